#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zeplo {

// A libpq connection URI: postgresql://... or postgres://...
bool isServerUri(std::string_view text);

// The URI as libpq is to read it. The user information runs up to the last
// "@" before the host, so a password typed unencoded with "@", "/", "?", "#"
// or a lone "%" in it is percent-encoded here: libpq would otherwise stop at
// the first "@" or "/" and take the rest for a host, a port or a database.
std::string normalizedUri(std::string_view uri);

// The URI without its password, neither in the user part nor as a parameter.
std::string withoutPassword(std::string_view uri);

// The connection's parameters as libpq reads them from the URI (host, port,
// dbname, user, ...), those given only; empty when it cannot read it.
std::vector<std::pair<std::string, std::string>> connectionParameters(const std::string &uri);

// The message with every password of the URI (as written, as decoded and as
// normalized) blotted out.
std::string withoutPasswordOf(std::string message, std::string_view uri);

} // namespace zeplo
