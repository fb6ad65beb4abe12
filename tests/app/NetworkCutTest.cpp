// The connection to the server cut at every message of every list and record
// command, each way, in each of three ways (dropped, silent, the answer lost
// after the server acted): the program's state stays sound, the table is as
// before or as after, the user is told the truth, and the command tried again
// works. A read never shows an error, since one repeat on a new session
// answers it.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <algorithm>
#include <functional>

#include <QScopeGuard>
#include <QWidget>

#include "ErrorOf.h"
#include "NetworkCuts.h"
#include "app/BookQueries.h"
#include "engine/DataSource.h"
#include "engine/Field.h"
#include "engine/ResultSet.h"
#include "engine/WaitObserver.h"
#include "widgets/DataGrid.h"

using namespace zeplo;

namespace {

// Enough for the grid to fill; a list this long is read whole when it opens.
constexpr int kBooks = 20;
// Enough for a move to read beyond the rows read at the opening.
constexpr int kMoreBooks = 80;
// What a silent path costs each run.
constexpr int kDeadlineMs = 300;

// The main window's list with a grid of the main window's size over it, and
// the count panel's query.
class ListAction : public CutAction {
public:
    using Step = std::function<void(ListAction &)>;
    struct Command {
        const char *name;
        int books;
        bool writes;
        Step start;   // up to the action
        Step act;
        Step again = {};   // when not the action itself
    };

    ListAction(CutCatalogue &catalogue, const Command &command) : catalogue_(catalogue), command_(command)
    {
        grid_->setObjectName(QStringLiteral("DBGrid1"));
        // Wide enough for every column, so that no horizontal scroll bar
        // comes and goes with the vertical one and changes the lines shown.
        grid_->setGeometry(0, 8, 1400, 321);
        window_.resize(1410, 340);
        window_.show();
    }
    ~ListAction() override { end(); }

    ResultSet &list() { return *list_; }
    Field *field(const char *name) { return list_->fieldByName(QString::fromLatin1(name)); }
    int pageRows() const { return grid_->visibleRowCount(); }
    void open(const QStringList &sql)
    {
        list_->setSql(sql);
        list_->open();
    }
    // As the count panel reads it.
    void count()
    {
        counter_->setSql({kCountQuery});
        counter_->open();
        counter_->first();
        counted_ = counter_->fieldByName(QStringLiteral("x"))->asInteger();
        counter_->close();
    }
    // As the report walks the list.
    void walk()
    {
        walked_.clear();
        list_->first();
        counted_ = list_->recordCount();
        list_->setWalking(true);
        struct Walking {
            ResultSet &list;
            ~Walking() { list.setWalking(false); }
        } walking{*list_};
        while (!list_->eof()) {
            walked_ << field("id")->text();
            list_->next();
        }
    }
    // The row `id` current in the list as it is opened now.
    void goTo(qint64 id)
    {
        if (!list_->active())
            list_->open();
        for (list_->first(); !list_->eof() && field("id")->asInteger() != id;)
            list_->next();
    }

    bool writes() const override { return command_.writes; }
    void begin() override
    {
        end();
        catalogue_.newSession();
        // All new, as when the program starts: the grid over a closed list.
        list_ = std::make_unique<ResultSet>(QStringLiteral("Query1"));
        counter_ = std::make_unique<ResultSet>(QStringLiteral("Query2"));
        list_->setRequestLive(true);
        source_ = std::make_unique<DataSource>();
        source_->setDataSet(list_.get());
        grid_->setDataSource(source_.get());
        counted_ = -1;
        walked_.clear();
        if (command_.start)
            command_.start(*this);
    }
    void act() override { command_.act(*this); }
    void again() override { (command_.again ? command_.again : command_.act)(*this); }
    void end() override
    {
        grid_->setDataSource(nullptr);
        source_.reset();
        list_.reset();
        counter_.reset();
    }

    QString seen() override
    {
        QStringList lines;
        if (counted_ >= 0)
            lines << QStringLiteral("count %1").arg(counted_);
        if (!walked_.isEmpty())
            lines << QStringLiteral("walked ") + walked_.join(QLatin1Char(','));
        if (!list_->active())
            return (lines << QStringLiteral("closed")).join(QLatin1Char('\n'));
        // Not the row number: a list read again after a lost session may
        // know it where one read from its end does not yet.
        lines << QStringLiteral("line %1 of %2, bof %3, eof %4")
                     .arg(list_->activeLine())
                     .arg(list_->windowRowCount())
                     .arg(list_->bof())
                     .arg(list_->eof());
        for (int line = 0; line < list_->windowRowCount(); ++line) {
            QStringList values;
            for (const auto &f : list_->fields())
                values << list_->windowValue(line, f->index()).toString();
            lines << values.join(QLatin1Char('|'));
        }
        return lines.join(QLatin1Char('\n'));
    }

    QString broken() override
    {
        QStringList problems;
        const ResultSet &q = *list_;
        if (!q.active()) {
            if (q.windowRowCount() != 0)
                problems << QStringLiteral("a closed list holds rows");
            if (grid_->columnCount() != 1)
                problems << QStringLiteral("the grid of a closed list shows columns");
            return problems.join(QStringLiteral("; "));
        }
        if (grid_->columnCount() != int(q.fields().size()))
            problems << QStringLiteral("the grid shows %1 columns of %2 fields").arg(grid_->columnCount()).arg(q.fields().size());
        if (q.bufferCount() != grid_->visibleRowCount())
            problems << QStringLiteral("the list keeps %1 rows for a grid of %2").arg(q.bufferCount()).arg(grid_->visibleRowCount());
        if (q.windowRowCount() > q.bufferCount())
            problems << QStringLiteral("%1 rows held for %2 lines").arg(q.windowRowCount()).arg(q.bufferCount());
        QString described;
        if (q.windowRowCount() > 0) {
            if (q.activeLine() < 0 || q.activeLine() >= q.windowRowCount())
                problems << QStringLiteral("the current line %1 is outside the %2 rows held").arg(q.activeLine()).arg(q.windowRowCount());
            else if (const Field *f = grid_->columnField(grid_->currentColumn()))
                described = QStringLiteral("Řádek %1, %2: %3")
                                .arg(q.recNo())
                                .arg(f->fieldName(), Field::displayTextFor(f->kind(), q.windowValue(q.activeLine(), f->index())));
        } else if (q.activeLine() != 0 || q.recNo() > 1) {
            problems << QStringLiteral("an empty window at row %1").arg(q.recNo());
        }
        if (grid_->accessibleDescription() != described)
            problems << QStringLiteral("the grid shows \"%1\" where the list holds \"%2\"")
                            .arg(grid_->accessibleDescription(), described);
        return problems.join(QStringLiteral("; "));
    }

private:
    CutCatalogue &catalogue_;
    Command command_;
    QWidget window_;
    DataGrid *grid_ = new DataGrid(&window_);
    std::unique_ptr<DataSource> source_;
    std::unique_ptr<ResultSet> list_;
    std::unique_ptr<ResultSet> counter_;
    qint64 counted_ = -1;
    QStringList walked_;
};

void openAll(ListAction &a)
{
    a.open(mainQuery({}, {}));
}

void openAtThird(ListAction &a)
{
    openAll(a);
    a.list().moveBy(2);
}

ListAction::Step opening(const QString &filter, const QString &order)
{
    return [=](ListAction &a) { a.open(mainQuery(filter, order)); };
}

void typeEdit(ListAction &a)
{
    a.list().edit();
    a.field("nazev")->setAsText(QStringLiteral("Opravený název"));
    a.list().post();
}

void typeNewBook(ListAction &a)
{
    a.list().append();
    a.field("autor")->setAsText(QStringLiteral("Nová autorka"));
    a.field("nazev")->setAsText(QStringLiteral("Nová kniha"));
    a.field("rok_vydani")->setAsText(QStringLiteral("2024"));
    a.list().post();
}

// Tried again: the pending row is posted as it was kept, or the whole action
// is made again on the row where it began.
ListAction::Step postAgain(ListAction::Step action, qint64 id)
{
    return [=](ListAction &a) {
        if (a.list().editing()) {
            a.list().post();
            return;
        }
        if (id > 0)
            a.goTo(id);
        action(a);
    };
}

const ListAction::Command kActions[] = {
    {"opening", kBooks, false, nullptr, openAll},
    {"Ctrl+End", kMoreBooks, false, openAll, [](ListAction &a) { a.list().last(); }},
    {"Page Down", kMoreBooks, false, [](ListAction &a) {
         openAll(a);
         a.list().moveBy(50);   // the last rows read at the opening at the foot of the grid
     },
     [](ListAction &a) { a.list().moveBy(a.pageRows()); }},
    {"title search", kBooks, false, openAll, opening(searchFilter(schema::Title, QStringLiteral("Kniha 1")), {})},
    {"author search", kBooks, false, openAll, opening(searchFilter(schema::Author, QStringLiteral("or 2")), {})},
    {"genre search", kBooks, false, openAll, opening(searchFilter(schema::Genre, QStringLiteral("Beletrie")), {})},
    {"sort by title", kBooks, false, openAll, opening({}, orderBy(schema::Title))},
    {"sort by author", kBooks, false, openAll, opening({}, orderBy(schema::Author))},
    {"sort by genre", kBooks, false, openAll, opening({}, orderBy(schema::Genre))},
    {"sort by year", kBooks, false, openAll, opening({}, orderBy(schema::Published))},
    {"lent", kBooks, false, openAll, opening(lentFilter(), {})},
    {"read", kBooks, false, openAll, opening(flagFilter(schema::Read, true), {})},
    {"unread", kBooks, false, openAll, opening(flagFilter(schema::Read, false), {})},
    {"owned", kBooks, false, openAll, opening(flagFilter(schema::Owned, true), {})},
    {"not owned", kBooks, false, openAll, opening(flagFilter(schema::Owned, false), {})},
    {"the count", kBooks, false, openAll, [](ListAction &a) { a.count(); }},
    {"the report's walk", kMoreBooks, false, openAll, [](ListAction &a) { a.walk(); }},
    {"edit + post", kBooks, true, openAtThird, typeEdit, postAgain(typeEdit, 3)},
    {"append + post", kBooks, true, openAll, typeNewBook, postAgain(typeNewBook, 0)},
    {"delete", kBooks, true, openAtThird, [](ListAction &a) { a.list().deleteRecord(); },
     [](ListAction &a) {
         a.goTo(3);
         a.list().deleteRecord();
     }},
};

} // namespace

using Cut = TcpRelay::Cut;
using Refusal = libpq_refusals::Kind;
class NetworkCuts : public testing::TestWithParam<std::tuple<int, Fault>> {};

TEST_P(NetworkCuts, AtEveryMessage)
{
    const ListAction::Command &command = kActions[std::get<0>(GetParam())];
    CutCatalogue catalogue(command.books, kDeadlineMs);
    ListAction action(catalogue, command);
    sweep(catalogue, QString::fromUtf8(command.name), action, std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Commands, NetworkCuts,
                         testing::Combine(testing::Range(0, int(std::size(kActions))),
                                          testing::Values(Fault(Cut::Drop), Fault(Cut::DeliverThenDrop),
                                                          Fault(Cut::Silence), Fault(Refusal::Failure))),
                         [](const testing::TestParamInfo<std::tuple<int, Fault>> &info) {
                             return testName(kActions[std::get<0>(info.param)].name, std::get<1>(info.param));
                         });

namespace {

// Stops every path through the relay once its armed cut was made, so that
// the command's own repeat on a new session cannot be had either.
class FreezeOnceCut : public WaitObserver {
public:
    explicit FreezeOnceCut(TcpRelay &relay) : relay_(relay) { setWaitObserver(this); }
    ~FreezeOnceCut() override { setWaitObserver(nullptr); }
    void stillWaiting(int) override
    {
        if (relay_.cut())
            relay_.freeze(true);
    }
    void doneWaiting() override {}

private:
    TcpRelay &relay_;
};

} // namespace

namespace {

// The main window's list, open for writing, and a new book with a title.
struct TitledAppends {
    TitledAppends()
    {
        list.setRequestLive(true);
        list.setSql(mainQuery({}, QString()));
        list.open();
    }
    void append(const char *title)
    {
        list.append();
        list.fieldByName(QStringLiteral("nazev"))->setAsText(QString::fromUtf8(title));
    }
    ResultSet list{QStringLiteral("Query1")};
};

} // namespace

// A new book whose insert the server committed, its answer lost and the
// repeat on a new session failing too: the user is told it failed and keeps
// the row; the title corrected and OK pressed again, the book the first try
// stored takes the corrected title and stays one book.
TEST(LostAnswer, ANewBookCorrectedAfterItsAnswerWasLostIsStoredOnceWithTheCorrection)
{
    CutCatalogue c(kBooks, kDeadlineMs);
    TitledAppends live;
    ResultSet &list = live.list;
    const auto append = [&](const char *title) { live.append(title); };

    // A clean append + post shows where the insert's answer begins: after the
    // answer to the reservation of its key, the first trip of the post.
    append("Zkouška");
    c.relay->arm(TcpRelay::Direction::ToClient, 1 << 20, TcpRelay::Cut::Drop);
    list.post();
    const std::string answers = c.relay->messageTypes(TcpRelay::Direction::ToClient);
    c.relay->disarm();
    const std::size_t reserved = answers.find('Z');
    ASSERT_NE(reserved, std::string::npos);
    ASSERT_NE(answers.find('Z', reserved + 1), std::string::npos) << answers;

    append("Jen jednou");
    {
        FreezeOnceCut freeze(*c.relay);
        c.relay->arm(TcpRelay::Direction::ToClient, int(reserved) + 2, TcpRelay::Cut::Silence);
        EXPECT_NE(errorOf([&] { list.post(); }), QString());
    }
    c.relay->disarm();
    c.relay->freeze(false);
    EXPECT_EQ(list.state(), DataSetState::Insert);
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select count(*) from zeplo where nazev = 'Jen jednou'")).toInt(), 1);

    list.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Jen jednou, opraveno"));
    EXPECT_EQ(errorOf([&] { list.post(); }), QString());
    EXPECT_EQ(list.state(), DataSetState::Browse);
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select count(*) from zeplo where nazev like 'Jen jednou%'")).toInt(), 1);
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select id from zeplo where nazev = 'Jen jednou, opraveno'")).toLongLong(),
              list.fieldByName(QStringLiteral("id"))->asInteger());
    EXPECT_EQ(c.catalogue.count(), kBooks + 2);
}

namespace {

// Lets the server's held inserts go once a session waits for one of them:
// an insert of the new book whose trip was lost holds until the post's own
// try on a new session has run into it.
class ReleaseWhenAnotherWaits : public WaitObserver {
public:
    ReleaseWhenAnotherWaits(TcpRelay &relay, pg_conn *holder) : relay_(relay), holder_(holder)
    {
        setWaitObserver(this);
    }
    ~ReleaseWhenAnotherWaits() override { setWaitObserver(nullptr); }
    void stillWaiting(int) override
    {
        if (released_ || !relay_.cut() || value(holder_, "select count(*) from pg_locks where locktype = "
                                                          "'transactionid' and not granted") == "0")
            return;
        released_ = value(holder_, "select pg_advisory_unlock(4242)") == "t";
    }
    void doneWaiting() override {}
    bool released() const { return released_; }

    static std::string value(pg_conn *session, const char *sql)
    {
        PGresult *result = PQexec(session, sql);
        const std::string text = PQntuples(result) == 1 ? PQgetvalue(result, 0, 0) : "";
        PQclear(result);
        return text;
    }

private:
    TcpRelay &relay_;
    pg_conn *holder_;
    bool released_ = false;
};

} // namespace

// The try whose trip was lost is still storing the book at the server when
// the post tries again on a new session: the second try waits for the
// first, and the book is stored once, not again under a new key.
TEST(LostAnswer, AFirstTryStillRunningWhenThePostTriesAgainStoresTheBookOnce)
{
    CutCatalogue c(kBooks, kDeadlineMs);
    // Each new book's insert holds, its row made but not committed, while
    // the test's own session holds a lock.
    c.catalogue.exec(QStringLiteral("create function held_insert() returns trigger language plpgsql as "
                                    "$$ begin perform pg_advisory_xact_lock_shared(4242); return null; end $$"));
    c.catalogue.exec(QStringLiteral(
        "create trigger held_insert after insert on zeplo for each row execute function held_insert()"));
    pg_conn *holder = PQconnectdb(c.catalogue.uri().toUtf8().constData());
    const auto done = qScopeGuard([&] { PQfinish(holder); });
    TitledAppends live;
    ResultSet &list = live.list;
    const auto append = [&](const char *title) { live.append(title); };

    // Two clean posts, the second with every statement prepared as the
    // third's will be: its messages end with the insert's trip.
    append("Zkouška");
    list.post();
    append("Zkouška 2");
    c.relay->arm(TcpRelay::Direction::ToServer, 1 << 20, TcpRelay::Cut::Drop);
    list.post();
    const std::string sent = c.relay->messageTypes(TcpRelay::Direction::ToServer);
    c.relay->disarm();
    ASSERT_EQ(std::count(sent.begin(), sent.end(), 'S'), 2) << "a reservation and an insert: " << sent;

    ASSERT_EQ(ReleaseWhenAnotherWaits::value(holder, "select pg_advisory_lock(4242)"), "");
    append("Jen jednou");
    {
        ReleaseWhenAnotherWaits release(*c.relay, holder);
        c.relay->arm(TcpRelay::Direction::ToServer, int(sent.size()), TcpRelay::Cut::DeliverThenDrop);
        EXPECT_EQ(errorOf([&] { list.post(); }), QString());
        EXPECT_TRUE(release.released()) << "the second try never waited for the first";
    }
    c.relay->disarm();
    EXPECT_EQ(list.state(), DataSetState::Browse);
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select count(*) from zeplo where nazev = 'Jen jednou'")).toInt(), 1);
    EXPECT_EQ(c.catalogue.scalar(QStringLiteral("select id from zeplo where nazev = 'Jen jednou'")).toLongLong(),
              list.fieldByName(QStringLiteral("id"))->asInteger());
    EXPECT_EQ(c.catalogue.count(), kBooks + 3);
}
