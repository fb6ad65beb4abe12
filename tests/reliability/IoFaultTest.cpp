// A disk that answers one call of a write with an error, at every step of the
// write in turn, loses nothing: the failure reaches the user as an error, the
// typed row stays pending, the list stays usable, and the file, opened afresh,
// is sound and holds the table exactly as before or exactly as after.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include <QDir>
#include <QFile>

#include <sqlite3.h>

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

// A catalogue file as a fresh connection finds it; no value when there is no file.
using Table = std::optional<QStringList>;

struct FileState {
    QString integrity;
    Table rows;
};

FileState stateOf(const QString &file)
{
    FileState state;
    if (!QFile::exists(file))
        return state;
    sqlite3 *db = nullptr;
    // Opened for writing, as the program opens it: a journal left behind is rolled back.
    sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE, "unix");
    sqlite3_stmt *stmt = nullptr;
    QStringList problems;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK)
        while (sqlite3_step(stmt) == SQLITE_ROW)
            problems << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    state.integrity = problems.isEmpty() ? QString::fromUtf8(sqlite3_errmsg(db)) : problems.join(QLatin1Char('\n'));
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
    sqlite3_close(db);
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
    // After a failed write: checks the program's side and makes the user's
    // next step (the same write again when nothing was stored); returns what
    // the file holds then.
    virtual Table afterFailure(const Table &stored) { return stored; }
    // Ends the program's side, closing its files.
    virtual void release() {}
};

// Runs the write again and again on a fresh catalogue, the disk failing its
// n-th call of one kind, n = 1, 2, ... until the write no longer reaches it;
// each kind of call in turn, failing as the disk's error for it and as a full
// disk.
void failEveryStep(FaultyDisk &disk, const std::function<std::unique_ptr<Attempt>()> &begin, const Table &before,
                   const Table &after)
{
    int runs = 0, failures = 0;
    for (FaultyDisk::Call call : FaultyDisk::kCalls) {
        for (int error : {FaultyDisk::ioError(call), int(SQLITE_FULL)}) {
            for (int n = 1;; ++n) {
                SCOPED_TRACE(testing::Message() << "call " << n << " of kind " << FaultyDisk::name(call)
                                                << " fails with " << sqlite3_errstr(error) << " (" << error << ")");
                ASSERT_LT(n, 1000) << "the write never ends";
                std::unique_ptr<Attempt> attempt = begin();
                disk.arm(call, n, error);
                QString message;
                try {
                    attempt->write();
                } catch (const Error &e) {
                    message = e.message();
                }
                const bool fired = disk.fired();
                disk.disarm();
                ++runs;

                const FileState now = stateOf(attempt->file());
                if (now.rows) {
                    EXPECT_EQ(now.integrity, QStringLiteral("ok"));
                }
                Table expected = after;
                if (message.isEmpty()) {
                    // A success says that everything is there.
                    EXPECT_EQ(shown(now.rows), shown(after));
                } else {
                    ++failures;
                    EXPECT_TRUE(now.rows == before || now.rows == after) << message.toStdString() << "\nholds:\n"
                                                                         << shown(now.rows).toStdString();
                    expected = attempt->afterFailure(now.rows);
                }
                attempt->release();
                // Opened afresh once the program has let go of it.
                const FileState fresh = stateOf(attempt->file());
                if (fresh.rows) {
                    EXPECT_EQ(fresh.integrity, QStringLiteral("ok"));
                }
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
    // Every kind of call failed somewhere, and the write failed visibly.
    EXPECT_GT(failures, 0);
    testing::Test::RecordProperty("runs", runs);
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
        return stored;
    }

private:
    QString newFolder() const { return source_.path() + QStringLiteral("/copy"); }

    TempCatalogue source_;
    Kind kind_;
    std::optional<TempCatalogue> target_;
};

} // namespace

class IoFaults : public testing::TestWithParam<CatalogueEngine> {
protected:
    // The table before and after one clean run of the write.
    void runListWrite(ListAttempt::Kind kind)
    {
        Table before, after;
        {
            ListAttempt clean(GetParam(), kind);
            before = stateOf(clean.file()).rows;
            clean.write();
            clean.release();
            after = stateOf(clean.file()).rows;
        }
        ASSERT_NE(before, after);
        failEveryStep(
            disk_, [&] { return std::make_unique<ListAttempt>(GetParam(), kind, after); }, before, after);
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
        {
            ToolAttempt clean(GetParam(), kind);
            before = stateOf(clean.file()).rows;
            clean.write();
            after = stateOf(clean.file()).rows;
        }
        ASSERT_NE(before, after);
        failEveryStep(disk_, [&] { return std::make_unique<ToolAttempt>(GetParam(), kind); }, before, after);
        if (HasFailure())
            return;
    }
}
