#pragma once

#include <string>

// The password of a server catalogue, asked on the terminal as psql asks it:
// only when the server needs a password that was not given (in the URI,
// ~/.pgpass or PGPASSWORD) and the tool's input is a terminal, and without
// echo. Empty when none was asked; a wrong one is the command's failure.
std::string terminalPassword(const std::string &uri);
