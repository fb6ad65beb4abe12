// A disk that fails one call of a write, at every step of the write in turn,
// each kind of call the write reaches, once and as a disk that stays full,
// loses nothing: the failure reaches the user as an error, the typed row stays
// pending, the list stays usable, and the file is sound and holds the table
// exactly as before or exactly as after. The file is looked at read-only, so
// the test never rolls back a journal the program left behind.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <set>

#include <QDir>
#include <QFile>

#include <sqlite3.h>

#include "CatalogueFile.h"
#include "ChildRoles.h"
#include "FaultyDisk.h"
#include "TempCatalogue.h"
#include "engine/Field.h"
#include "engine/ResultSet.h"
#include "books/Commands.h"
#include "books/files/BookFile.h"
#include "books/stores/CatalogueStore.h"

using namespace zeplo;

namespace {

// A catalogue file as the next program to open it finds it; no value when there is no file.
using Table = std::optional<QStringList>;

struct FileState {
    QString integrity;
    Table rows;
    bool journalLeft = false;   // a journal that the next writer to open the file rolls back
};

FileState stateOf(const QString &file)
{
    FileState state;
    if (!QFile::exists(file))
        return state;
    state.journalLeft = readCatalogueFile(file, [&](sqlite3 *db) {
        sqlite3_stmt *stmt = nullptr;
        QStringList problems;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK)
            while (sqlite3_step(stmt) == SQLITE_ROW)
                problems << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
        state.integrity =
            problems.isEmpty() ? QString::fromUtf8(sqlite3_errmsg(db)) : problems.join(QLatin1Char('\n'));
        QStringList rows;
        if (sqlite3_prepare_v2(db, (kBookColumns + QStringLiteral(" order by id")).toUtf8().constData(), -1, &stmt,
                               nullptr)
            == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                QStringList values;
                for (int c = 0; c < sqlite3_column_count(stmt); ++c)
                    values << (sqlite3_column_type(stmt, c) == SQLITE_NULL
                                   ? QStringLiteral("-")
                                   : QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, c))));
                rows << values.join(QLatin1Char('|'));
            }
            state.rows = rows;
        } else {
            state.rows = QStringList{QStringLiteral("(a file without the table)")};
        }
        sqlite3_finalize(stmt);
    });
    return state;
}

QString shown(const Table &table)
{
    return table ? table->join(QLatin1Char('\n')) : QStringLiteral("(no catalogue)");
}

// One write on a fresh catalogue, begun and ready for the disk to fail in it.
struct Attempt {
    virtual ~Attempt() = default;
    virtual QString file() const = 0;
    virtual void write() = 0;
    // The user tries the write again, the disk still failing: what it says.
    virtual QString again()
    {
        try {
            write();
        } catch (const Error &e) {
            return e.message();
        }
        return QString();
    }
    // After a failed write, once the disk works: checks the program's side and
    // makes the user's next step (the same write again when nothing was
    // stored); returns what the file holds then.
    virtual Table afterFailure(const Table &stored) { return stored; }
    // Ends the program's side, closing its files.
    virtual void release() {}
};

// The kinds of call a clean run of the write makes.
using Calls = std::set<FaultyDisk::Call>;
Calls callsOf(FaultyDisk &disk, Attempt &attempt)
{
    disk.count();
    attempt.write();
    Calls reached;
    for (FaultyDisk::Call call : FaultyDisk::kCalls)
        if (disk.calls(call) > 0)
            reached.insert(call);
    return reached;
}

QString names(const Calls &calls)
{
    QStringList list;
    for (FaultyDisk::Call call : calls)
        list << QString::fromLatin1(FaultyDisk::name(call));
    return list.join(QStringLiteral(", "));
}

// Checks the file against the table before and after the write and what the
// user was told; a journal left behind is allowed only while the disk fails.
void expectTold(const FileState &now, const QString &message, const Table &before, const Table &after,
                bool diskStillFailing)
{
    if (now.rows) {
        EXPECT_EQ(now.integrity, QStringLiteral("ok"));
    }
    if (!diskStillFailing) {
        EXPECT_FALSE(now.journalLeft) << "a journal left to roll back after: " << message.toStdString();
    }
    if (message.isEmpty()) {
        // A success says that everything is there.
        EXPECT_EQ(shown(now.rows), shown(after));
    } else {
        EXPECT_TRUE(now.rows == before) << "told: " << message.toStdString() << "\nholds:\n"
                                        << shown(now.rows).toStdString();
    }
}

// Runs the write again and again on a fresh catalogue, the disk failing its
// n-th call of one kind, n = 1, 2, ... until the write no longer reaches it;
// each kind of call the write reaches in turn, failing once as the disk's
// error for it and for good as a full disk, which the user then tries the
// write on again before the disk is freed.
void failEveryStep(FaultyDisk &disk, const std::function<std::unique_ptr<Attempt>()> &begin, const Calls &reached,
                   const Table &before, const Table &after)
{
    int runs = 0, failures = 0;
    Calls failed;
    for (FaultyDisk::Call call : reached) {
        for (const auto persistence : {FaultyDisk::Persistence::Once, FaultyDisk::Persistence::UntilFreed}) {
            const bool full = persistence == FaultyDisk::Persistence::UntilFreed;
            const int error = full ? int(SQLITE_FULL) : FaultyDisk::ioError(call);
            for (int n = 1;; ++n) {
                SCOPED_TRACE(testing::Message() << "call " << n << " of kind " << FaultyDisk::name(call)
                                                << " fails with " << sqlite3_errstr(error) << " (" << error << ")"
                                                << (full ? ", and so does every later one until freed" : ""));
                ASSERT_LT(n, 5000) << "the write never ends";
                std::unique_ptr<Attempt> attempt = begin();
                disk.arm(call, n, error, persistence);
                QString message;
                try {
                    attempt->write();
                } catch (const Error &e) {
                    message = e.message();
                }
                const bool fired = disk.fired();
                ++runs;
                if (fired)
                    failed.insert(call);
                expectTold(stateOf(attempt->file()), message, before, after, full);
                Table expected = after;
                if (!message.isEmpty()) {
                    ++failures;
                    if (full) {
                        // Tried again while the disk is still full: told the truth again.
                        const QString again = attempt->again();
                        expectTold(stateOf(attempt->file()), again, before, after, true);
                    }
                    disk.free();
                    expected = attempt->afterFailure(stateOf(attempt->file()).rows);
                    EXPECT_EQ(shown(expected), shown(after)) << "tried again once the disk works";
                }
                disk.free();
                attempt->release();
                // Opened afresh once the program has let go of it.
                const FileState fresh = stateOf(attempt->file());
                if (fresh.rows) {
                    EXPECT_EQ(fresh.integrity, QStringLiteral("ok"));
                }
                EXPECT_FALSE(fresh.journalLeft) << "the program let go of a file with a journal to roll back";
                EXPECT_EQ(shown(fresh.rows), shown(expected));
                if (testing::Test::HasFailure())
                    return;
                if (!fired) {
                    EXPECT_TRUE(message.isEmpty()) << message.toStdString();
                    break;
                }
            }
        }
    }
    // Every kind of call the write makes failed somewhere, and the write failed visibly.
    EXPECT_EQ(names(failed), names(reached));
    EXPECT_GT(failures, 0);
    testing::Test::RecordProperty("runs", runs);
    std::printf("disk faults: %d runs, each of these calls failed: %s\n", runs, qPrintable(names(failed)));
}

// Enough for the keys of a list to span several pages of the file.
constexpr int kBooks = 300;

// The user's side: the list of the main window, a change typed into it.
class ListAttempt : public Attempt {
public:
    enum class Kind { AppendAndPost, EditAndPost, Delete };

    ListAttempt(CatalogueEngine mode, Kind kind, const Table &after = {}) : catalogue_(mode), kind_(kind), after_(after)
    {
        catalogue_.addBooks(kBooks);
        list_->setRequestLive(true);
        list_->setSql({kBookColumns, QString(), QString()});
        list_->open();
        if (kind_ == Kind::AppendAndPost) {
            list_->append();
            field("autor")->setAsText(QStringLiteral("Nová autorka"));
            field("nazev")->setAsText(QStringLiteral("Nová kniha"));
            field("rok_vydani")->setAsText(QStringLiteral("2024"));
        } else {
            list_->moveBy(2);
            if (kind_ == Kind::EditAndPost) {
                list_->edit();
                field("nazev")->setAsText(QStringLiteral("Opravený název"));
            }
        }
    }

    QString file() const override { return catalogue_.file(); }

    void write() override
    {
        if (kind_ == Kind::Delete)
            list_->deleteRecord();
        else
            list_->post();
    }

    Table afterFailure(const Table &stored) override
    {
        if (stored == after_) {
            // Written, though the engine failed afterwards: opened again, the list shows it.
            if (list_->editing())
                list_->cancel();
            list_->close();
            list_->open();
            EXPECT_EQ(listedIds(), idsOf(stored));
            return stored;
        }
        // Nothing was written: the pending row keeps what was typed, a failed
        // deletion leaves its row current.
        switch (kind_) {
        case Kind::AppendAndPost:
            EXPECT_EQ(list_->state(), DataSetState::Insert);
            EXPECT_EQ(field("nazev")->text(), QStringLiteral("Nová kniha"));
            EXPECT_EQ(field("rok_vydani")->text(), QStringLiteral("2024"));
            break;
        case Kind::EditAndPost:
            EXPECT_EQ(list_->state(), DataSetState::Edit);
            EXPECT_EQ(field("nazev")->text(), QStringLiteral("Opravený název"));
            EXPECT_EQ(field("id")->asInteger(), 3);
            break;
        case Kind::Delete:
            EXPECT_EQ(list_->state(), DataSetState::Browse);
            EXPECT_EQ(field("id")->asInteger(), 3);
            break;
        }
        // The user tries again, and now it works, in the same list.
        write();
        EXPECT_EQ(list_->state(), DataSetState::Browse);
        EXPECT_EQ(listedIds(), idsOf(after_));
        return after_;
    }

    // The engine, and with it every connection, goes with the last result set that holds it.
    void release() override { list_.reset(); }

private:
    Field *field(const char *name) const { return list_->fieldByName(QString::fromLatin1(name)); }
    QStringList listedIds()
    {
        QStringList ids;
        for (list_->first(); !list_->eof(); list_->next())
            ids << field("id")->text();
        return ids;
    }
    static QStringList idsOf(const Table &table)
    {
        QStringList ids;
        for (const QString &row : table.value_or(QStringList()))
            ids << row.section(QLatin1Char('|'), 0, 0);
        return ids;
    }

    TempCatalogue catalogue_;
    Kind kind_;
    Table after_;
    std::unique_ptr<ResultSet> list_ = std::make_unique<ResultSet>(QStringLiteral("Query1"));
};

// The catalogue tool's writes into a catalogue file: importing a CSV file,
// and copying a catalogue into a new folder or into an empty catalogue.
class ToolAttempt : public Attempt {
public:
    enum class Kind { Import, CopyIntoNew, CopyIntoEmpty };

    ToolAttempt(CatalogueEngine mode, Kind kind) : source_(mode), kind_(kind)
    {
        source_.addBooks(5);
        if (kind_ == Kind::CopyIntoEmpty)
            target_.emplace(mode);
        QFile csv(source_.path() + QStringLiteral("/books.csv"));
        if (csv.open(QIODevice::WriteOnly))
            csv.write("autor,nazev,rok_vydani,vlastnim\nHrabal,Obsluhoval jsem anglického krále,1971,ano\n"
                      "Čapek,Krakatit,1924,ne\n\"Němcová, Božena\",Babička,1855,\n");
    }

    QString file() const override
    {
        switch (kind_) {
        case Kind::Import: return source_.file();
        case Kind::CopyIntoNew: return newFolder() + QStringLiteral("/zeplo.db");
        case Kind::CopyIntoEmpty: return target_->file();
        }
        return QString();
    }

    void write() override
    {
        const auto catalogue = [](const QString &folder) { return tool::openCatalogue(folder.toStdString()); };
        if (kind_ == Kind::Import) {
            tool::BookFile books((source_.path() + QStringLiteral("/books.csv")).toStdString(), {});
            tool::importBooks(*catalogue(source_.path()), books);
        }
        else
            tool::copyBooks(*catalogue(source_.path()),
                            *catalogue(kind_ == Kind::CopyIntoNew ? newFolder() : target_->path()));
    }

    Table afterFailure(const Table &stored) override
    {
        // A catalogue made for the copy goes again whole, with its journals.
        if (kind_ == Kind::CopyIntoNew && !stored) {
            EXPECT_EQ(QDir(newFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
        }
        // The user runs the command again, and now it works.
        write();
        return stateOf(file()).rows;
    }

private:
    QString newFolder() const { return source_.path() + QStringLiteral("/copy"); }

    TempCatalogue source_;
    Kind kind_;
    std::optional<TempCatalogue> target_;
};

QString errorOfWrite(Attempt &attempt)
{
    try {
        attempt.write();
    } catch (const Error &e) {
        return e.message();
    }
    return QString();
}

} // namespace

class IoFaults : public testing::TestWithParam<CatalogueEngine> {
protected:
    // The table before and after one clean run of the write, and the calls it makes.
    void runListWrite(ListAttempt::Kind kind)
    {
        Table before, after;
        Calls reached;
        {
            ListAttempt clean(GetParam(), kind);
            before = stateOf(clean.file()).rows;
            reached = callsOf(disk_, clean);
            clean.release();
            after = stateOf(clean.file()).rows;
        }
        ASSERT_NE(before, after);
        expectCoreCalls(reached);
        failEveryStep(
            disk_, [&] { return std::make_unique<ListAttempt>(GetParam(), kind, after); }, reached, before, after);
    }

    // What every write reaches in its journal mode, at the least: in the
    // rollback-journal mode a transaction opens, closes and (in the list,
    // where the file is not made anew) deletes its journal and takes the
    // file's locks; in write-ahead-log mode it locks the log's shared memory.
    void expectCoreCalls(const Calls &reached, bool newFile = false)
    {
        using C = FaultyDisk::Call;
        Calls core{C::Write, C::Sync, C::FileControl};
        if (GetParam() == CatalogueEngine::FileJournal)
            core.insert({C::Open, C::Close, C::Lock, C::Unlock});
        if (GetParam() == CatalogueEngine::FileJournal && !newFile)
            core.insert(C::Delete);
        if (GetParam() == CatalogueEngine::File)
            core.insert(C::ShmLock);
        Calls missing;
        for (C call : core)
            if (!reached.count(call))
                missing.insert(call);
        EXPECT_TRUE(missing.empty()) << "the write makes no call of: " << names(missing).toStdString()
                                     << "; it makes: " << names(reached).toStdString();
    }

    FaultyDisk disk_;   // first made, last gone: every file opened through it closes before it goes
};
INSTANTIATE_TEST_SUITE_P(Modes, IoFaults, kEachFileMode, engineName);

TEST_P(IoFaults, AppendAndPost) { runListWrite(ListAttempt::Kind::AppendAndPost); }
TEST_P(IoFaults, EditAndPost) { runListWrite(ListAttempt::Kind::EditAndPost); }
TEST_P(IoFaults, Delete) { runListWrite(ListAttempt::Kind::Delete); }

TEST_P(IoFaults, ToolImportAndCopy)
{
    for (ToolAttempt::Kind kind :
         {ToolAttempt::Kind::Import, ToolAttempt::Kind::CopyIntoNew, ToolAttempt::Kind::CopyIntoEmpty}) {
        SCOPED_TRACE(int(kind));
        Table before, after;
        Calls reached;
        {
            ToolAttempt clean(GetParam(), kind);
            before = stateOf(clean.file()).rows;
            reached = callsOf(disk_, clean);
            after = stateOf(clean.file()).rows;
        }
        ASSERT_NE(before, after);
        expectCoreCalls(reached, kind == ToolAttempt::Kind::CopyIntoNew);
        failEveryStep(disk_, [&] { return std::make_unique<ToolAttempt>(GetParam(), kind); }, reached, before,
                      after);
        if (HasFailure())
            return;
    }
}

// The two ways a COMMIT fails around its commit point, on their own: with the
// rollback journal, the journal that cannot be deleted leaves the new pages
// in the file and the write must be rolled back at once, not by whoever opens
// the file next; in write-ahead-log mode, a failure SQLite reports after the
// commit record is in the log (the file's "commit phase two") leaves the book
// stored, and the post must say so rather than keep the row to be posted twice.
TEST(IoFaultsAtCommit, TheUserIsToldWhatTheFileHolds)
{
    FaultyDisk disk;
    {
        ListAttempt attempt(CatalogueEngine::FileJournal, ListAttempt::Kind::AppendAndPost);
        const Table before = stateOf(attempt.file()).rows;
        disk.arm(FaultyDisk::Call::Delete, 1, SQLITE_IOERR_DELETE);
        EXPECT_FALSE(errorOfWrite(attempt).isEmpty());
        EXPECT_TRUE(disk.fired());
        disk.free();
        const FileState now = stateOf(attempt.file());
        EXPECT_FALSE(now.journalLeft);
        EXPECT_EQ(shown(now.rows), shown(before));
    }
    {
        ListAttempt attempt(CatalogueEngine::File, ListAttempt::Kind::AppendAndPost);
        const int books = int(stateOf(attempt.file()).rows->size());
        disk.arm(FaultyDisk::Call::FileControl, 1, SQLITE_IOERR);
        EXPECT_EQ(errorOfWrite(attempt), QString());
        EXPECT_TRUE(disk.fired());
        disk.free();
        const Table now = stateOf(attempt.file()).rows;
        EXPECT_EQ(now->size(), books + 1);
        EXPECT_EQ(now->filter(QStringLiteral("|Nová kniha|")).size(), 1);
    }
}
