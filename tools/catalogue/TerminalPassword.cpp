#include "TerminalPassword.h"

#include <cstdio>
#include <iostream>

#include <termios.h>
#include <unistd.h>

#include "engine/PgConnection.h"
#include "engine/ServerUri.h"

using namespace zeplo;

namespace {

// Whether the server wants a password the connection does not have. Any other
// failure is left to the command, which says it in its own words.
bool needsPassword(const std::string &uri)
{
    try {
        PgSessionSettings settings;
        settings.applicationName = "zeplo-catalogue";
        settings.boundedCommands = false;
        PgConnection probe(QString::fromStdString(uri), settings);
        return false;
    } catch (const PgConnectFailed &e) {
        return e.problem == ServerProblem::PasswordNeeded;
    }
}

// A line of the terminal, not shown as it is typed. Echo goes off before
// the prompt shows, and nothing typed meanwhile is thrown away: a quick typist
// neither sees the password nor loses it.
std::string hiddenLine(const std::string &prompt)
{
    termios shown{};
    const bool terminal = tcgetattr(STDIN_FILENO, &shown) == 0;
    if (terminal) {
        termios hidden = shown;
        hidden.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &hidden);
    }
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    std::string line;
    std::getline(std::cin, line);
    if (terminal)
        tcsetattr(STDIN_FILENO, TCSANOW, &shown);
    std::fputc('\n', stderr);
    return line;
}

} // namespace

std::string terminalPassword(const std::string &uri)
{
    if (!isatty(STDIN_FILENO) || !needsPassword(uri))
        return {};
    const ServerAccount account = serverAccount(uri);
    return hiddenLine("Password for " + account.user + "@" + account.host + ":" + account.port + "/" +
                      account.database + ": ");
}
