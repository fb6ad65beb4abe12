// Transactions on the server: the cursors' within one round trip, and the
// catalogue tool's over several, begun, committed or rolled back, and a
// session lost on the way ended at the server.
#include "engine/PgConnection.h"

#include <utility>

namespace zeplo {

std::size_t PgTransaction::inTrip(std::vector<PgCommand> &commands, PgCommand command,
                                  std::initializer_list<const char *> settings)
{
    const auto step = [](QString text) {
        PgCommand c(std::move(text));
        c.joinsNext = true;
        return c;
    };
    commands.push_back(step(QStringLiteral("BEGIN")));
    for (const char *setting : settings)
        commands.push_back(step(QStringLiteral("SET LOCAL %1").arg(QLatin1String(setting))));
    command.joinsNext = true;
    commands.push_back(std::move(command));
    const std::size_t at = commands.size() - 1;
    commands.push_back(PgCommand(QStringLiteral("COMMIT")));
    return at;
}

PgResult PgTransaction::runInTrip(PgConnection &connection, PgCommand command,
                                  std::initializer_list<const char *> settings)
{
    std::vector<PgCommand> commands;
    const std::size_t at = inTrip(commands, std::move(command), settings);
    return std::move(connection.run(commands, PgRepeat::IfLost)[at]);
}

PgTransaction::PgTransaction(PgConnection &connection, Another another)
    : connection_(connection), another_(std::move(another)), pid_(connection.backendPid())
{
    // The program's sessions end every transaction a trip leaves open.
    Q_ASSERT(!connection_.bounded());
    connection_.run(PgCommand(QStringLiteral("BEGIN")));
    try {
        const PgResult id = connection_.run(PgCommand(QStringLiteral("SELECT pg_current_xact_id()")));
        id_ = PgRowView(id, 0).string(0);
    } catch (...) {
        rollBack();
        throw;
    }
}

void PgTransaction::commit()
{
    Q_ASSERT(!over_);
    over_ = true;
    try {
        connection_.run(PgCommand(QStringLiteral("COMMIT")));
    } catch (const PgSessionLost &) {
        endLost();
        const std::unique_ptr<PgConnection> other = another_();
        const PgResult status =
            other->run(PgCommand(QStringLiteral("SELECT pg_xact_status($1::xid8)"), {id_}));
        if (PgRowView::count(status) != 1 || PgRowView(status, 0).text(0) != "committed")
            throw;
    }
}

void PgTransaction::rollBack() noexcept
{
    if (std::exchange(over_, true))
        return;
    if (connection_.broken()) {
        endLost();
        return;
    }
    // A rollback that fails leaves nothing either: the session ends unfinished.
    try {
        connection_.run(PgCommand(QStringLiteral("ROLLBACK")));
    } catch (const std::exception &) {
    }
}

void PgTransaction::endLost() noexcept
{
    try {
        const std::unique_ptr<PgConnection> other = another_();
        other->run(PgCommand(QStringLiteral("SELECT pg_terminate_backend(pid, 10000) FROM pg_stat_activity "
                                            "WHERE pid = $1"),
                             {QString::number(pid_)}));
    } catch (const std::exception &) {
        // A server that cannot be reached ends the session itself when it notices.
    }
}

} // namespace zeplo
