#include "engine/ServerUri.h"

#include <cctype>
#include <optional>

#include <libpq-fe.h>

namespace zeplo {

namespace {

struct Parts {
    std::string_view scheme;    // "postgresql://"
    std::string_view user;      // before the password, without "@"
    std::string_view password;  // as written
    bool hasUserInfo = false;
    bool hasPassword = false;
    std::string_view rest;      // hosts, database and parameters
};

// What a host list may hold: names, addresses (IPv6 in brackets), ports and commas.
bool isNetloc(std::string_view text)
{
    for (char c : text)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || std::string_view(".-_[]:,%").find(c) != std::string_view::npos))
            return false;
    return true;
}

Parts split(std::string_view uri)
{
    Parts parts;
    const std::size_t schemeEnd = uri.find("://");
    if (schemeEnd == std::string_view::npos) {
        parts.rest = uri;
        return parts;
    }
    parts.scheme = uri.substr(0, schemeEnd + 3);
    const std::string_view after = uri.substr(schemeEnd + 3);
    // The user information ends at the last "@" that is followed by a host
    // list (up to the path or the parameters) and whose user name holds no
    // "/", "?" or "#": a password may hold anything, a host list cannot.
    for (std::size_t at = after.rfind('@'); at != std::string_view::npos; at = at ? after.rfind('@', at - 1) : std::string_view::npos) {
        const std::string_view host = after.substr(at + 1, after.find_first_of("/?", at + 1) - (at + 1));
        const std::string_view info = after.substr(0, at);
        const std::string_view user = info.substr(0, info.find(':'));
        if (!isNetloc(host) || user.find_first_of("/?#") != std::string_view::npos)
            continue;
        parts.hasUserInfo = true;
        parts.user = user;
        if (user.size() < info.size()) {
            parts.hasPassword = true;
            parts.password = info.substr(user.size() + 1);
        }
        parts.rest = after.substr(at + 1);
        return parts;
    }
    parts.rest = after;
    return parts;
}

int hexValue(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

bool isEscape(std::string_view text, std::size_t i)
{
    return text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0;
}

std::string percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isEscape(text, i)) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Characters that end the user information for libpq, and a "%" that starts no escape.
std::string encodedUserInfo(std::string_view text)
{
    static const char *const hex = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (std::string_view("@/?#").find(c) != std::string_view::npos || (c == '%' && !isEscape(text, i))) {
            out += '%';
            out += hex[static_cast<unsigned char>(c) >> 4];
            out += hex[static_cast<unsigned char>(c) & 15];
        } else {
            out += c;
        }
    }
    return out;
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

std::string normalizedUri(std::string_view uri)
{
    if (!isServerUri(uri))
        return std::string(uri);
    const Parts parts = split(uri);
    if (!parts.hasUserInfo)
        return std::string(uri);
    std::string out(parts.scheme);
    out += encodedUserInfo(parts.user);
    if (parts.hasPassword)
        out += ':' + encodedUserInfo(parts.password);
    out += '@';
    out += parts.rest;
    return out;
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
    std::vector<std::string_view> secrets;
    if (parts.hasPassword)
        secrets.push_back(parts.password);
    std::string_view beforeQuery;
    for (std::string_view parameter : parameters(parts.rest, beforeQuery))
        if (const auto password = passwordOf(parameter))
            secrets.push_back(*password);
    for (std::string_view secret : secrets) {
        // The longest forms first, so that none leaves a piece of another.
        blot(message, encodedUserInfo(secret));
        blot(message, std::string(secret));
        blot(message, percentDecoded(secret));
    }
    return message;
}

std::vector<std::pair<std::string, std::string>> connectionParameters(const std::string &uri)
{
    std::vector<std::pair<std::string, std::string>> out;
    PQconninfoOption *options = PQconninfoParse(normalizedUri(uri).c_str(), nullptr);
    for (PQconninfoOption *o = options; o && o->keyword; ++o)
        if (o->val && *o->val)
            out.emplace_back(o->keyword, o->val);
    PQconninfoFree(options);
    return out;
}

} // namespace zeplo
