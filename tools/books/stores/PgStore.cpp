#include "PgStore.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>

#include "engine/PgConnection.h"
#include "engine/PgDialect.h"
#include "engine/ServerUri.h"

namespace zeplo::tool {

namespace {

// A command whose failure stops the work.
PgResult run(PgConnection &c, const std::string &name, const QString &sql, const QStringList &params = {})
{
    try {
        return c.run(PgCommand(sql, params));
    } catch (const EngineError &e) {
        failOn(name, e, say("the server refused", "server odmítl"));
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
                                 const QStringList &params = {})
{
    const PgResult result = run(c, name, sql, params);
    if (PgRowView::count(result) < 1)
        return std::nullopt;
    const PgRowView row(result.get(), 0);
    if (row.isNull(0))
        return std::nullopt;
    return std::string(row.text(0));
}

std::int64_t number(PgConnection &c, const std::string &name, const QString &sql, const QStringList &params = {})
{
    const std::string text = value(c, name, sql, params).value_or("0");
    std::int64_t n = 0;
    std::from_chars(text.data(), text.data() + text.size(), n);
    return n;
}

// Books streamed into COPY ... FROM STDIN in the text format. Ids are given here:
// a book without one gets the one after every id so far, as in a catalogue file.
class CopyIn : public BookSink {
public:
    CopyIn(PgConnection &connection, const std::string &name, std::int64_t nextId)
        : c_(connection), name_(name), nextId_(nextId)
    {
        try {
            c_.copyIn(QStringLiteral("COPY zeplo (%1) FROM STDIN").arg(QString::fromStdString(columnList())));
        } catch (const EngineError &e) {
            failOn(name_, e, say("the server refused", "server odmítl"));
        }
        open_ = true;
    }

    void add(const Book &book) override
    {
        const std::int64_t id = book[0].null ? nextId_ : book[0].number;
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
            if (e.line >= 1 && std::uint64_t(e.line) <= added_)
                throw BookRefused(std::size_t(e.line - 1), e.message().toStdString());
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

private:
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
    std::int64_t nextId_;
    std::string buffer_;
    std::size_t added_ = 0;
    bool open_ = false;
};

class PgStore : public CatalogueStore {
public:
    PgStore(const std::string &uri, const std::string &password)
        : uri_(uri), password_(password), name_(withoutPassword(uri))
    {
    }

    const std::string &name() const override { return name_; }

    bool exists() override { return tableExists(*connect()); }

    std::uint64_t count() override
    {
        return static_cast<std::uint64_t>(number(*connect(), name_, QStringLiteral("SELECT count(*) FROM zeplo")));
    }

    void readAll(const std::function<void(const Book &)> &each) override;
    void write(WriteMode mode, const std::function<void(BookSink &)> &fill) override;

private:
    // A session whose commands run as long as they take: a copy of a million
    // books, the indexes over them.
    std::unique_ptr<PgConnection> connect() const
    {
        try {
            return std::make_unique<PgConnection>(
                QString::fromStdString(uri_),
                PgSessionSettings{"zeplo-catalogue", false, QString::fromStdString(password_), {}});
        } catch (const PgConnectFailed &e) {
            throw ServerFailed(name_ + ": " + say("cannot connect", "nelze se připojit") + ": " + e.why.toStdString(),
                               name_, e.problem, e.why);
        }
    }
    bool tableExists(PgConnection &c) const
    {
        return value(c, name_, QStringLiteral("SELECT to_regclass('zeplo') IS NOT NULL")) == "t";
    }
    void addSearchIndexes(PgConnection &c) const;

    std::string uri_;
    std::string password_;
    std::string name_;
};

void PgStore::readAll(const std::function<void(const Book &)> &each)
{
    const std::unique_ptr<PgConnection> c = connect();
    const QString sql = QStringLiteral("SELECT %1 FROM zeplo ORDER BY id").arg(QString::fromStdString(columnList()));
    Book book;
    const auto read = [&](const PgRowView &row) {
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const int column = static_cast<int>(i);
            Value &value = book[i];
            if (row.isNull(column)) {
                value.setNull();
                continue;
            }
            const std::string_view text = row.text(column);
            switch (kColumns[i].kind) {
            case Kind::Text:
            case Kind::Memo:
                value.setText(text);
                break;
            case Kind::Logical:
                value.setNumber(!text.empty() && text[0] == 't' ? 1 : 0);
                break;
            case Kind::Id:
            case Kind::Year: {
                std::int64_t n = 0;
                std::from_chars(text.data(), text.data() + text.size(), n);
                value.setNumber(n);
                break;
            }
            }
        }
        try {
            each(book);
        } catch (const EngineError &e) {
            // Not this server's failure: the receiver's, told as it is.
            throw Error(e.message());
        }
    };
    try {
        c->stream(PgCommand(sql), read);
    } catch (const EngineError &e) {
        failOn(name_, e, say("cannot read the books", "nelze přečíst knihy"));
    }
}

void PgStore::write(WriteMode mode, const std::function<void(BookSink &)> &fill)
{
    const std::unique_ptr<PgConnection> session = connect();
    PgConnection &c = *session;
    run(c, name_, QStringLiteral("BEGIN"));
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
        copy.emplace(c, name_, nextId);
        fill(*copy);
        copy->finish();
        // After the books: an index made over the rows at once is made faster
        // than one kept up row by row.
        addSearchIndexes(c);
        // Books added later by the program must get ids above every one given here.
        if (sequence && copy->added() > 0)
            run(c, name_, QStringLiteral("SELECT setval($1::regclass, $2::bigint)"),
                {QString::fromStdString(*sequence), QString::number(copy->nextId() - 1)});
        run(c, name_, QStringLiteral("COMMIT"));
    } catch (...) {
        if (copy)
            copy->abandon();
        // The failure that led here is the one to report; a rollback that
        // fails leaves nothing either, as the session ends unfinished.
        runQuietly(c, "ROLLBACK");
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
    run(c, name_, QStringLiteral("SAVEPOINT zeplo_search"));
    try {
        run(c, name_, QStringLiteral("CREATE EXTENSION IF NOT EXISTS pg_trgm"));
        for (const char *column : {"nazev", "autor", "zanr"})
            run(c, name_, QStringLiteral("CREATE INDEX IF NOT EXISTS zeplo_%1_search ON zeplo USING gin (%2 gin_trgm_ops)")
                              .arg(QLatin1String(column), pg::folded(QString::fromLatin1(column))));
        run(c, name_, QStringLiteral("RELEASE SAVEPOINT zeplo_search"));
    } catch (const std::exception &e) {
        run(c, name_, QStringLiteral("ROLLBACK TO SAVEPOINT zeplo_search"));
        std::fprintf(stderr, "zeplo-catalogue: note: %s; searching a large catalogue there will be slow\n", e.what());
    }
}

} // namespace

std::unique_ptr<CatalogueStore> makePgStore(const std::string &uri, const std::string &password)
{
    return std::make_unique<PgStore>(uri, password);
}

} // namespace zeplo::tool
