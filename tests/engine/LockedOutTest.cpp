// Commands over a list whose catalogue another program keeps locked, its
// readers too (a file's exclusive lock under the rollback journal, the
// server's ACCESS EXCLUSIVE): each fails with the locked message and leaves
// the list exactly where it stood, a pending row kept; once the lock goes,
// the same commands work.
#include <gtest/gtest.h>

#include <functional>

#include "ErrorOf.h"
#include "TempCatalogue.h"
#include "WindowLink.h"
#include "engine/ResultSet.h"

using namespace zeplo;

namespace {

// Where a list stands, as the grid and the controls see it.
struct Standing {
    DataSetState state;
    qsizetype recNo;
    int line;
    bool bof, eof, modified;
    QStringList shown;   // the titles on the grid's lines
    bool operator==(const Standing &) const = default;
};

Standing standing(const ResultSet &query)
{
    QStringList shown;
    for (int line = 0; line < query.windowRowCount(); ++line)
        shown << query.windowValue(line, 2).toString();
    return {query.state(), query.recNo(), query.activeLine(), query.bof(), query.eof(), query.modified(), shown};
}

void PrintTo(const Standing &s, std::ostream *os)
{
    *os << int(s.state) << " row " << s.recNo << " line " << s.line << " " << s.shown.join(QLatin1Char(',')).toStdString();
}

} // namespace

class LockedOut : public testing::TestWithParam<CatalogueEngine> {};
INSTANTIATE_TEST_SUITE_P(Engines, LockedOut, testing::Values(CatalogueEngine::FileJournal, CatalogueEngine::Server),
                         engineName);

TEST_P(LockedOut, EveryCommandFailsWithTheLockedMessageAndLeavesTheListWhereItStood)
{
    const int lockWait = Engine::lockWaitMs();
    Engine::setLockWaitMs(100);   // the sessions made from here on wait this long
    {
        TempCatalogue catalogue(GetParam());
        catalogue.addBooks(300);
        GridList list({TempCatalogue::kBaseQuery, QString(), QString()});
        ResultSet &query = list.query;
        query.moveBy(150);
        Field *nazev = query.fieldByName(QStringLiteral("nazev"));

        // Each command is tried under the lock, with nothing of the rows kept
        // in memory, so that it must read; the same command then works.
        const auto tryLocked = [&](const char *what, const std::function<void()> &command) {
            SCOPED_TRACE(what);
            const Standing before = standing(query);
            catalogue.lockWriters(true);
            query.changedElsewhere({}, true);
            const QString error = errorOf(command);
            EXPECT_TRUE(error.contains(Engine::lockedMessage())) << error.toStdString();
            EXPECT_EQ(standing(query), before);
            catalogue.unlock();
            EXPECT_EQ(errorOf(command), QString());
        };
        tryLocked("a move down", [&] { query.moveBy(20); });
        tryLocked("a move up", [&] { query.moveBy(-40); });
        tryLocked("Ctrl+End", [&] { query.last(); });
        tryLocked("Ctrl+Home", [&] { query.first(); });
        tryLocked("a jump", [&] { query.moveToRecNo(200); });
        tryLocked("a larger grid", [&] {
            list.link.lines = 30;
            try {
                query.updateBufferCount();
            } catch (...) {
                list.link.lines = 18;
                throw;
            }
        });
        EXPECT_EQ(query.windowRowCount(), 30);
        tryLocked("a re-read of the rows shown", [&] { EXPECT_TRUE(query.rereadWindow()); });
        tryLocked("edit", [&] { query.edit(); });
        nazev->setAsText(QStringLiteral("Opravená"));
        tryLocked("a move that posts", [&] { query.next(); });
        EXPECT_EQ(catalogue.scalar(QStringLiteral("select count(*) from zeplo where nazev = 'Opravená'")).toInt(), 1);
        query.edit();
        nazev->setAsText(QStringLiteral("Zrušená"));
        tryLocked("cancel", [&] { query.cancel(); });
        tryLocked("append", [&] { query.append(); });
        nazev->setAsText(QStringLiteral("Nová"));
        tryLocked("post", [&] { query.post(); });
        tryLocked("insert", [&] { query.insert(); });
        tryLocked("delete", [&] { query.deleteRecord(); });   // drops the new row: reads what takes its place
        tryLocked("delete", [&] { query.deleteRecord(); });
        EXPECT_EQ(catalogue.count(), 300);
        EXPECT_EQ(catalogue.scalar(QStringLiteral("select count(*) from zeplo where nazev in ('Nová', 'Opravená')")).toInt(), 1);
    }
    Engine::setLockWaitMs(lockWait);
}
