#include "PgStore.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <type_traits>

#include "engine/CatalogueSchema.h"
#include "engine/PgConnection.h"
#include "engine/PgDialect.h"
#include "engine/ServerUri.h"
#include "engine/WaitObserver.h"

namespace zeplo::tool {

namespace {

// The server's refusals of `work`, told as the failure that stops the work.
template <class Work>
std::invoke_result_t<Work> refused(const std::string &name, Work &&work)
{
    try {
        return work();
    } catch (const EngineError &e) {
        failOn(name, e, say("the server refused", "server odmítl"));
    }
}

// A command whose failure stops the work. Only a read outside a transaction
// may be made again on a new session.
PgResult run(PgConnection &c, const std::string &name, const QString &sql, const QStringList &params = {},
             PgRepeat repeat = PgRepeat::Never)
{
    return refused(name, [&] { return c.run(PgCommand(sql, params), repeat); });
}

// A step of a write that the catalogue can do without: under a savepoint,
// undone alone when it fails, with `lacking` (what is missed without it) as a
// note. A stop asked for by the user undoes the whole write instead.
void optionalStep(PgConnection &c, const std::string &name, const char *savepoint, const char *lacking,
                  const std::function<void()> &step)
{
    run(c, name, QStringLiteral("SAVEPOINT %1").arg(QLatin1String(savepoint)));
    try {
        step();
        run(c, name, QStringLiteral("RELEASE SAVEPOINT %1").arg(QLatin1String(savepoint)));
    } catch (const std::exception &e) {
        if (stopRequested())
            throw;
        run(c, name, QStringLiteral("ROLLBACK TO SAVEPOINT %1").arg(QLatin1String(savepoint)));
        std::fprintf(stderr, "zeplo-catalogue: note: %s; %s\n", e.what(), lacking);
    }
}

// A command after which nothing depends on how it went.
void runQuietly(PgConnection &c, const char *sql) noexcept
{
    try {
        c.run(PgCommand(QString::fromLatin1(sql)));
    } catch (const std::exception &) {
        // The work is done or failed already; this one's failure changes neither.
    }
}

// The first value of a query's first row; nothing when it is null.
std::optional<std::string> value(PgConnection &c, const std::string &name, const QString &sql,
                                 const QStringList &params = {}, PgRepeat repeat = PgRepeat::Never)
{
    const PgResult result = run(c, name, sql, params, repeat);
    if (PgRowView::count(result) < 1)
        return std::nullopt;
    const PgRowView row(result, 0);
    if (row.isNull(0))
        return std::nullopt;
    return std::string(row.text(0));
}

// The same as a whole number; 0 for none.
std::int64_t number(PgConnection &c, const std::string &name, const QString &sql, const QStringList &params = {},
                    PgRepeat repeat = PgRepeat::Never)
{
    const PgResult result = run(c, name, sql, params, repeat);
    return PgRowView::count(result) < 1 ? 0 : PgRowView(result, 0).integer(0);
}

// Books streamed into COPY ... FROM STDIN in the text format. Ids are given here:
// a book without one gets the one after every id so far, as in a catalogue file,
// taken from the table's sequence where it has one, so that it is never a key
// that the program on another computer took from there for a book it adds.
class CopyIn : public BookSink {
public:
    CopyIn(PgConnection &connection, const std::string &name, std::int64_t nextId, std::optional<std::string> sequence)
        : c_(connection), name_(name), nextId_(nextId), sequence_(std::move(sequence))
    {
        begin();
    }

    void add(const Book &book) override
    {
        const std::int64_t id = book[0].null ? takeId() : book[0].number;
        nextId_ = std::max(nextId_, id + 1);
        appendNumber(id);
        for (std::size_t i = 1; i < kColumnCount; ++i) {
            buffer_ += '\t';
            const Value &value = book[i];
            if (value.null)
                buffer_ += "\\N";
            else if (kColumns[i].kind == Kind::Logical)
                buffer_ += value.number ? 't' : 'f';
            else if (holdsText(kColumns[i].kind))
                appendText(value.text);
            else
                appendNumber(value.number);
        }
        buffer_ += '\n';
        ++added_;
        if (buffer_.size() >= 256 * 1024)
            flush();
    }

    // Ends the data and takes the server's verdict: a refused book throws BookRefused.
    void finish()
    {
        flush();
        open_ = false;
        try {
            c_.copyEnd();
        } catch (const PgRowRefused &e) {
            if (e.line >= 1 && std::uint64_t(e.line) <= added_ - begun_)
                throw BookRefused(std::size_t(begun_ + e.line - 1), e.message().toStdString());
            failOn(name_, e, say("the server refused the books", "server knihy odmítl"));
        } catch (const EngineError &e) {
            failOn(name_, e, say("the server refused the books", "server knihy odmítl"));
        }
    }

    // Ends the data unsent, after a failure on our side.
    void abandon()
    {
        if (!open_)
            return;
        open_ = false;
        c_.copyAbandon();
    }

    std::size_t added() const { return added_; }
    std::int64_t nextId() const { return nextId_; }

    // Ids taken and not given go back, unless another writer took one since.
    void giveBackIds()
    {
        if (!sequence_ || ids_.empty())
            return;
        run(c_, name_, QStringLiteral("SELECT setval($1::regclass, $2::bigint) WHERE "
                                      "pg_sequence_last_value($1::regclass) = $3::bigint"),
            {QString::fromStdString(*sequence_), QString::number(ids_.front() - 1), QString::number(ids_.back())});
        ids_.clear();
    }

private:
    void begin()
    {
        try {
            c_.copyIn(QStringLiteral("COPY zeplo (%1) FROM STDIN").arg(QString::fromStdString(columnList())));
        } catch (const EngineError &e) {
            failOn(name_, e, say("the server refused", "server odmítl"));
        }
        open_ = true;
        begun_ = added_;
    }

    // The next id from the sequence, taken a block at a time between two
    // COPYs of the one transaction: none below an id given so far.
    std::int64_t takeId()
    {
        if (!sequence_)
            return nextId_;
        if (ids_.empty() || ids_.front() < nextId_) {
            finish();
            const QString seq = QString::fromStdString(*sequence_);
            run(c_, name_, QStringLiteral("SELECT setval($1::regclass, $2::bigint) WHERE $2::bigint > "
                                          "coalesce(pg_sequence_last_value($1::regclass), 0)"),
                {seq, QString::number(nextId_ - 1)});
            // A few first, then more: a small import burns no ids, a large one
            // pauses its COPY rarely.
            const PgResult block = run(c_, name_, QStringLiteral("SELECT nextval($1::regclass) FROM generate_series(1, %1)")
                                                       .arg(blockSize_),
                                       {seq});
            blockSize_ = std::min(blockSize_ * 4, kMostIds);
            ids_.clear();
            for (int i = 0; i < PgRowView::count(block); ++i)
                ids_.push_back(PgRowView(block, i).integer(0));
            begin();
        }
        const std::int64_t id = ids_.front();
        ids_.pop_front();
        return id;
    }

    void appendNumber(std::int64_t n)
    {
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
        buffer_.append(digits, end);
    }
    void appendText(const std::string &text)
    {
        for (const char ch : text) {
            switch (ch) {
            case '\\': buffer_ += "\\\\"; break;
            case '\n': buffer_ += "\\n"; break;
            case '\r': buffer_ += "\\r"; break;
            case '\t': buffer_ += "\\t"; break;
            default: buffer_ += ch;
            }
        }
    }
    void flush()
    {
        if (buffer_.empty())
            return;
        try {
            c_.copyData(buffer_);
        } catch (const EngineError &e) {
            failOn(name_, e, say("cannot send the books", "nelze odeslat knihy"));
        }
        buffer_.clear();
    }

    PgConnection &c_;
    const std::string &name_;
    static constexpr int kMostIds = 4096;
    int blockSize_ = 64;
    std::int64_t nextId_;
    std::optional<std::string> sequence_;
    std::deque<std::int64_t> ids_;   // taken from the sequence, not yet given
    std::string buffer_;
    std::size_t added_ = 0;
    std::size_t begun_ = 0;          // books given before the COPY under way
    bool open_ = false;
};

class PgStore : public CatalogueStore {
public:
    PgStore(const std::string &uri, const std::string &password)
        : uri_(uri), password_(password), name_(withoutPassword(uri))
    {
    }

    const std::string &name() const override { return name_; }

    bool exists() override { return tableExists(*connect(), PgRepeat::IfLost); }

    std::uint64_t count() override
    {
        return static_cast<std::uint64_t>(
            number(*connect(), name_, QStringLiteral("SELECT count(*) FROM zeplo"), {}, PgRepeat::IfLost));
    }

    void readAll(const std::function<void(const Book &)> &each) override;
    void write(WriteMode mode, const std::function<void(BookSink &)> &fill) override;
    bool upgrade() override;

private:
    // A session whose commands run as long as they take: a copy of a million
    // books, the indexes over them.
    std::unique_ptr<PgConnection> connect() const
    {
        try {
            return std::make_unique<PgConnection>(
                QString::fromStdString(uri_),
                PgSessionSettings{"zeplo-catalogue", false, QString::fromStdString(password_)});
        } catch (const PgConnectFailed &e) {
            throw ServerFailed(name_ + ": " + say("cannot connect", "nelze se připojit") + ": " + e.why.toStdString(),
                               name_, e.problem, e.why);
        }
    }
    bool tableExists(PgConnection &c, PgRepeat repeat = PgRepeat::Never) const
    {
        return value(c, name_, QStringLiteral("SELECT to_regclass('zeplo') IS NOT NULL"), {}, repeat) == "t";
    }
    // A transaction on the session; what becomes of a lost one is learnt on new sessions.
    std::unique_ptr<PgTransaction> begin(PgConnection &c) const
    {
        return refused(name_, [&] { return std::make_unique<PgTransaction>(c, [this] { return connect(); }); });
    }
    void addSearchIndexes(PgConnection &c) const;
    bool addChangeNotices(PgConnection &c, bool renewFunction) const;
    void tryChangeNotices(PgConnection &c) const;

    std::string uri_;
    std::string password_;
    std::string name_;
};

void PgStore::readAll(const std::function<void(const Book &)> &each)
{
    const std::unique_ptr<PgConnection> c = connect();
    // In id order, so that a reading whose session was lost goes on, once, on
    // a new one after the last book it gave.
    std::optional<std::int64_t> last;
    Book book;
    const auto read = [&](const PgRowView &row) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const int column = static_cast<int>(i);
            Value &value = book[i];
            if (row.isNull(column)) {
                value.setNull();
                continue;
            }
            switch (kColumns[i].kind) {
            case Kind::Text:
            case Kind::Memo:
                value.setText(row.text(column));
                break;
            case Kind::Logical:
                value.setNumber(row.flag(column) ? 1 : 0);
                break;
            case Kind::Id:
            case Kind::Year:
                value.setNumber(row.integer(column));
                break;
            }
        }
        try {
            each(book);
        } catch (const EngineError &e) {
            // Not this server's failure: the receiver's, told as it is.
            throw Error(e.message());
        }
        last = book[0].number;
    };
    for (bool again = false;; again = true) {
        const QString after = last ? QStringLiteral(" WHERE id > %1").arg(*last) : QString();
        try {
            c->stream(PgCommand(QStringLiteral("SELECT %1 FROM zeplo%2 ORDER BY id")
                                    .arg(QString::fromStdString(columnList()), after)),
                      read);
            return;
        } catch (const PgSessionLost &e) {
            if (again)
                failOn(name_, e, say("cannot read the books", "nelze přečíst knihy"));
        } catch (const EngineError &e) {
            failOn(name_, e, say("cannot read the books", "nelze přečíst knihy"));
        }
    }
}

void PgStore::write(WriteMode mode, const std::function<void(BookSink &)> &fill)
{
    const std::unique_ptr<PgConnection> session = connect();
    PgConnection &c = *session;
    const std::unique_ptr<PgTransaction> transaction = begin(c);
    std::optional<CopyIn> copy;
    try {
        // The same bounded wait for a lock as on a catalogue file.
        run(c, name_, QStringLiteral("SET LOCAL lock_timeout = %1").arg(Engine::lockWaitMs()));
        const bool exists = tableExists(c);
        if (mode == WriteMode::MakeNew) {
            if (exists)
                fail(name_ + say(" already holds a catalogue (table zeplo); a catalogue is never overwritten",
                                 " už obsahuje katalog (tabulku zeplo); katalog se nikdy nepřepisuje"));
            // The id is an identity column: a book added without one gets the next value of its sequence.
            run(c, name_, schema::createTable(schema::Flavour::Server));
        } else if (!exists) {
            fail(name_ + say(": there is no catalogue (table zeplo) on this server",
                             ": na tomto serveru není katalog (tabulka zeplo)"));
        }
        // Nobody else adds a book while the ids are given out here; readers go on.
        run(c, name_, QStringLiteral("LOCK TABLE zeplo IN EXCLUSIVE MODE"));
        // The programs showing the catalogue hear of these books. A catalogue
        // made now has no such program yet: it gets the triggers after its
        // books, which then pass unrecorded.
        if (mode != WriteMode::MakeNew)
            tryChangeNotices(c);
        if (mode == WriteMode::FillEmpty) {
            if (const std::int64_t n = number(c, name_, QStringLiteral("SELECT count(*) FROM zeplo")))
                fail(name_ + say(" already holds ", " už obsahuje ") + bookCount(n)
                     + say("; only a new or empty catalogue is filled", "; naplnit lze jen nový nebo prázdný katalog"));
        }
        const std::optional<std::string> sequence =
            value(c, name_, QStringLiteral("SELECT pg_get_serial_sequence('zeplo', 'id')"));
        std::int64_t nextId = number(c, name_, QStringLiteral("SELECT coalesce(max(id), 0) + 1 FROM zeplo"));
        if (sequence)
            nextId = std::max(nextId, number(c, name_,
                                             QStringLiteral("SELECT coalesce(pg_sequence_last_value($1::regclass), 0) + 1"),
                                             {QString::fromStdString(*sequence)}));
        copy.emplace(c, name_, nextId, sequence);
        fill(*copy);
        copy->finish();
        copy->giveBackIds();
        // After the books: an index made over the rows at once is made faster
        // than one kept up row by row.
        addSearchIndexes(c);
        if (mode == WriteMode::MakeNew)
            tryChangeNotices(c);
        // Books added later by the program must get ids above every one given here.
        // Forward only: a key taken meanwhile for a book on another computer
        // stays that book's.
        if (sequence && copy->added() > 0)
            run(c, name_, QStringLiteral("SELECT setval($1::regclass, $2::bigint) WHERE $2::bigint > "
                                         "coalesce(pg_sequence_last_value($1::regclass), 0)"),
                {QString::fromStdString(*sequence), QString::number(copy->nextId() - 1)});
        refused(name_, [&] { transaction->commit(); });
    } catch (...) {
        // Out of the COPY first: the session takes no other command meanwhile.
        if (copy)
            copy->abandon();
        transaction->rollBack();
        throw;
    }
    // Outside the transaction, as the server requires: statistics for the
    // planner (so that it takes the search indexes) and a current visibility
    // map (so that the rows are counted from the key's index). A role that
    // does not own the table is only warned by the server; nothing depends on it.
    runQuietly(c, "SET client_min_messages = error");
    runQuietly(c, "VACUUM (ANALYZE) zeplo");
}

void PgStore::addSearchIndexes(PgConnection &c) const
{
    // Trigram indexes on the columns the program searches, on the expression
    // its `like` compares, let the server find a text anywhere in a title
    // without reading every book. pg_trgm is trusted: the database's owner may
    // add it. Without it (not installed, no right) the catalogue works the
    // same, only searching a large one is slower.
    // What is already there is skipped without a notice.
    run(c, name_, QStringLiteral("SET LOCAL client_min_messages = warning"));
    optionalStep(c, name_, "zeplo_search", "searching a large catalogue there will be slow", [&] {
        run(c, name_, QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"));
        for (const char *column : {"nazev", "autor", "zanr"})
            run(c, name_, QStringLiteral("CREATE INDEX IF NOT EXISTS zeplo_%1_search ON zeplo USING gin (%2 gin_trgm_ops)")
                              .arg(QLatin1String(column), pg::folded(QString::fromLatin1(column))));
    });
}

bool PgStore::addChangeNotices(PgConnection &c, bool renewFunction) const
{
    std::set<std::string, std::less<>> present;
    const PgResult result = run(c, name_, schema::changeNoticeTriggersPresent());
    for (int i = 0; i < PgRowView::count(result); ++i)
        present.emplace(PgRowView(result, i).text(0));
    const std::vector<schema::Trigger> triggers = schema::changeNoticeTriggers();
    if (present.size() == triggers.size() && !renewFunction)
        return false;
    run(c, name_, schema::changeNoticeFunction());
    bool added = false;
    for (const schema::Trigger &trigger : triggers) {
        if (present.count(std::string_view(trigger.name)))
            continue;
        run(c, name_, trigger.create);
        added = true;
    }
    return added;
}

void PgStore::tryChangeNotices(PgConnection &c) const
{
    // Without them (a role that may not make them) the catalogue works the
    // same; the programs showing it learn of changes at their next list command.
    optionalStep(c, name_, "zeplo_notices",
                 "the programs showing this catalogue show others' changes only at their next list command "
                 "(zeplo-catalogue upgrade adds what they need)",
                 [&] { addChangeNotices(c, false); });
}

bool PgStore::upgrade()
{
    const std::unique_ptr<PgConnection> session = connect();
    PgConnection &c = *session;
    const std::unique_ptr<PgTransaction> transaction = begin(c);
    run(c, name_, QStringLiteral("SET LOCAL lock_timeout = %1").arg(Engine::lockWaitMs()));
    if (!tableExists(c))
        fail(name_ + say(": there is no catalogue (table zeplo) on this server",
                         ": na tomto serveru není katalog (tabulka zeplo)"));
    // The function is made anew, so that an older one is replaced too.
    const bool added = addChangeNotices(c, true);
    refused(name_, [&] { transaction->commit(); });
    return added;
}

} // namespace

std::unique_ptr<CatalogueStore> makePgStore(const std::string &uri, const std::string &password)
{
    return std::make_unique<PgStore>(uri, password);
}

} // namespace zeplo::tool
