#include "engine/ServerUri.h"

#include <algorithm>
#include <optional>
#include <vector>

#include <libpq-fe.h>

namespace zeplo {

namespace {

struct Parts {
    std::string_view scheme;   // "postgresql://"
    std::string_view user;     // before the password, without "@"
    std::string_view password; // as written, percent-encoded
    bool hasUserInfo = false;
    std::string_view rest;     // hosts, database and parameters
};

Parts split(std::string_view uri)
{
    Parts parts;
    const std::size_t schemeEnd = uri.find("://") + 3;
    parts.scheme = uri.substr(0, schemeEnd);
    std::string_view after = uri.substr(schemeEnd);
    // Everything before the last "@" ahead of the parameters is taken as user
    // information, though libpq would stop at a "/" in an unencoded password:
    // no part of such a password may be shown either.
    const std::size_t at = after.substr(0, after.find('?')).rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view info = after.substr(0, at);
        const std::size_t colon = info.find(':');
        parts.user = info.substr(0, colon);
        if (colon != std::string_view::npos)
            parts.password = info.substr(colon + 1);
        parts.hasUserInfo = true;
        after.remove_prefix(at + 1);
    }
    parts.rest = after;
    return parts;
}

// The parameters after "?", each "key=value".
std::vector<std::string_view> parameters(std::string_view rest, std::string_view &beforeQuery)
{
    std::vector<std::string_view> list;
    const std::size_t q = rest.find('?');
    beforeQuery = rest.substr(0, q);
    if (q == std::string_view::npos)
        return list;
    std::string_view query = rest.substr(q + 1);
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        list.push_back(query.substr(0, amp));
        if (amp == std::string_view::npos)
            break;
        query.remove_prefix(amp + 1);
    }
    return list;
}

std::string percentDecoded(std::string_view text);

// The value of a password parameter (password=, sslpassword=, the name
// percent-encoded or not), or nothing.
std::optional<std::string_view> passwordOf(std::string_view parameter)
{
    const std::size_t equals = parameter.find('=');
    const std::string name = percentDecoded(parameter.substr(0, equals));
    if (equals == std::string_view::npos || (name != "password" && name != "sslpassword"))
        return std::nullopt;
    return parameter.substr(equals + 1);
}

std::string percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto hex = [](char c) {
            return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        };
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

void blot(std::string &message, const std::string &secret)
{
    if (secret.empty())
        return;
    for (std::size_t at = message.find(secret); at != std::string::npos; at = message.find(secret, at + 3))
        message.replace(at, secret.size(), "***");
}

} // namespace

bool isServerUri(std::string_view text)
{
    return text.substr(0, 13) == "postgresql://" || text.substr(0, 11) == "postgres://";
}

std::string withoutPassword(std::string_view uri)
{
    const Parts parts = split(uri);
    std::string out(parts.scheme);
    if (parts.hasUserInfo && !parts.user.empty()) {
        out += parts.user;
        out += '@';
    }
    std::string_view beforeQuery;
    const std::vector<std::string_view> params = parameters(parts.rest, beforeQuery);
    out += beforeQuery;
    char separator = '?';
    for (std::string_view parameter : params) {
        if (passwordOf(parameter))
            continue;
        out += separator;
        out += parameter;
        separator = '&';
    }
    return out;
}

std::string withoutPasswordOf(std::string message, std::string_view uri)
{
    const Parts parts = split(uri);
    std::vector<std::string_view> secrets{parts.password};
    std::string_view beforeQuery;
    for (std::string_view parameter : parameters(parts.rest, beforeQuery))
        if (const auto password = passwordOf(parameter))
            secrets.push_back(*password);
    for (std::string_view secret : secrets) {
        blot(message, std::string(secret));
        blot(message, percentDecoded(secret));
        // libpq cuts a password with a "/" or ":" in it into pieces it then
        // names in quotes, as a port or a host.
        for (std::size_t from = 0; from < secret.size();) {
            const std::size_t to = std::min(secret.find_first_of("/:@?", from), secret.size());
            if (to > from && to - from < secret.size())
                blot(message, "\"" + std::string(secret.substr(from, to - from)) + "\"");
            from = to + 1;
        }
    }
    return message;
}

std::vector<std::pair<std::string, std::string>> connectionParameters(const std::string &uri)
{
    std::vector<std::pair<std::string, std::string>> out;
    PQconninfoOption *options = PQconninfoParse(uri.c_str(), nullptr);
    for (PQconninfoOption *o = options; o && o->keyword; ++o)
        if (o->val && *o->val)
            out.emplace_back(o->keyword, o->val);
    PQconninfoFree(options);
    return out;
}

ServerAccount serverAccount(const std::string &uri)
{
    std::string given[4], fallback[4];
    const char *const keywords[4] = {"host", "port", "dbname", "user"};
    const auto pick = [&](PQconninfoOption *options, std::string *into) {
        for (PQconninfoOption *o = options; o && o->keyword; ++o)
            for (int i = 0; i < 4; ++i)
                if (o->val && *o->val && std::string_view(o->keyword) == keywords[i])
                    into[i] = o->val;
        PQconninfoFree(options);
    };
    pick(PQconninfoParse(uri.c_str(), nullptr), given);
    pick(PQconndefaults(), fallback);
    for (int i = 0; i < 4; ++i)
        if (given[i].empty())
            given[i] = fallback[i];
    if (given[2].empty())
        given[2] = given[3];
    return {given[0].empty() ? "localhost" : given[0], given[1].empty() ? "5432" : given[1], given[2], given[3]};
}

} // namespace zeplo
