#include "PgStore.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <vector>

#include <libpq-fe.h>

#include "engine/Engine.h"
#include "engine/PgDialect.h"
#include "engine/ServerUri.h"

namespace zeplo::tool {

namespace {

struct ResultDeleter {
    void operator()(PGresult *result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The server's words for a failed command: its message, then its detail.
std::string serverMessage(const PGresult *result)
{
    const char *primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
    const char *detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL);
    std::string text = primary ? primary : trimmed(PQresultErrorMessage(result));
    if (detail)
        text += std::string(" (") + detail + ")";
    return text;
}

class Connection {
public:
    Connection(const std::string &uri, const std::string &password, const std::string &name)
        : uri_(uri), password_(password), name_(name)
    {
        // The URI's own connect_timeout, given later, wins over this bound; the
        // client encoding after it is always ours, and so is a password given apart.
        std::vector<const char *> keys = {"connect_timeout", "dbname", "client_encoding", "application_name"};
        std::vector<const char *> values = {"10", uri.c_str(), "UTF8", "zeplo-catalogue"};
        if (!password.empty()) {
            keys.push_back("password");
            values.push_back(password.c_str());
        }
        keys.push_back(nullptr);
        values.push_back(nullptr);
        conn_ = PQconnectdbParams(keys.data(), values.data(), 1);
        if (!conn_)
            fail(name_ + ": out of memory");
        if (PQstatus(conn_) != CONNECTION_OK)
            failWith(say("cannot connect", "nelze se připojit"), PQerrorMessage(conn_));
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection() { PQfinish(conn_); }

    PGconn *get() const { return conn_; }

    // Every message names the server; none may carry the password, whatever libpq wrote.
    [[noreturn]] void failWith(const std::string &what, const std::string &why) const
    {
        fail(withoutPassword(name_ + ": " + what + ": " + trimmed(why)));
    }
    std::string withoutPassword(const std::string &text) const
    {
        std::string clean = withoutPasswordOf(text, uri_);
        for (std::size_t at; !password_.empty() && (at = clean.find(password_)) != std::string::npos;)
            clean.replace(at, password_.size(), "***");
        return clean;
    }

    // Runs one command; its text parameters may be null.
    Result run(const char *sql, std::initializer_list<const char *> params = {},
               ExecStatusType expected = PGRES_COMMAND_OK)
    {
        const std::vector<const char *> values(params);
        Result result(PQexecParams(conn_, sql, static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                                   nullptr, 0));
        if (!result)
            failWith(say("the server did not answer", "server neodpověděl"), PQerrorMessage(conn_));
        const ExecStatusType status = PQresultStatus(result.get());
        if (status != expected && !(expected == PGRES_COMMAND_OK && status == PGRES_TUPLES_OK)) {
            const char *state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE);
            if (state && std::string_view(state) == "55P03") // lock_not_available: the wait ran out
                fail(name_ + ": " + Engine::lockedMessage().toStdString());
            failWith(say("the server refused", "server odmítl"), serverMessage(result.get()));
        }
        return result;
    }
    // The first value of a query's first row; nothing when it is null.
    std::optional<std::string> value(const char *sql, std::initializer_list<const char *> params = {})
    {
        const Result result = run(sql, params, PGRES_TUPLES_OK);
        if (PQntuples(result.get()) < 1 || PQgetisnull(result.get(), 0, 0))
            return std::nullopt;
        return std::string(PQgetvalue(result.get(), 0, 0));
    }
    std::int64_t number(const char *sql, std::initializer_list<const char *> params = {})
    {
        const std::string text = value(sql, params).value_or("0");
        std::int64_t n = 0;
        std::from_chars(text.data(), text.data() + text.size(), n);
        return n;
    }

private:
    std::string uri_;
    std::string password_;
    std::string name_;
    PGconn *conn_ = nullptr;
};

// Books streamed into COPY ... FROM STDIN in the text format. Ids are given here:
// a book without one gets the one after every id so far, as in a catalogue file.
class CopyIn : public BookSink {
public:
    CopyIn(Connection &connection, std::int64_t nextId) : c_(connection), nextId_(nextId)
    {
        const std::string sql = "COPY zeplo (" + columnList() + ") FROM STDIN";
        c_.run(sql.c_str(), {}, PGRES_COPY_IN);
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
        if (PQputCopyEnd(c_.get(), nullptr) != 1)
            c_.failWith(say("cannot send the books", "nelze odeslat knihy"), PQerrorMessage(c_.get()));
        Result result(PQgetResult(c_.get()));
        drain();
        if (!result)
            c_.failWith(say("the server did not answer", "server neodpověděl"), PQerrorMessage(c_.get()));
        if (PQresultStatus(result.get()) != PGRES_COMMAND_OK)
            refused(result.get());
    }

    // Ends the data unsent, after a failure on our side.
    void abandon()
    {
        if (!open_)
            return;
        open_ = false;
        PQputCopyEnd(c_.get(), "abandoned");
        drain();
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
        if (!buffer_.empty() && PQputCopyData(c_.get(), buffer_.data(), static_cast<int>(buffer_.size())) != 1)
            c_.failWith(say("cannot send the books", "nelze odeslat knihy"), PQerrorMessage(c_.get()));
        buffer_.clear();
    }
    void drain()
    {
        while (PGresult *rest = PQgetResult(c_.get()))
            PQclear(rest);
    }
    // The server names the refused book by its line of the COPY data, from 1.
    [[noreturn]] void refused(const PGresult *result)
    {
        const std::string why = c_.withoutPassword(serverMessage(result));
        const char *context = PQresultErrorField(result, PG_DIAG_CONTEXT);
        const std::string_view where = context ? context : "";
        const std::size_t at = where.find(", line ");
        std::size_t line = 0;
        if (at != std::string_view::npos) {
            const char *digits = where.data() + at + 7;
            std::from_chars(digits, where.data() + where.size(), line);
        }
        if (line >= 1 && line <= added_)
            throw BookRefused(line - 1, why);
        c_.failWith(say("the server refused the books", "server knihy odmítl"), why);
    }

    Connection &c_;
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

    bool exists() override
    {
        Connection c(uri_, password_, name_);
        return tableExists(c);
    }

    std::uint64_t count() override
    {
        Connection c(uri_, password_, name_);
        return static_cast<std::uint64_t>(c.number("SELECT count(*) FROM zeplo"));
    }

    void readAll(const std::function<void(const Book &)> &each) override;
    void write(WriteMode mode, const std::function<void(BookSink &)> &fill) override;

private:
    static bool tableExists(Connection &c) { return c.value("SELECT to_regclass('zeplo') IS NOT NULL") == "t"; }
    static void addSearchIndexes(Connection &c);

    std::string uri_;
    std::string password_;
    std::string name_;
};

void PgStore::readAll(const std::function<void(const Book &)> &each)
{
    Connection c(uri_, password_, name_);
    const std::string sql = "SELECT " + columnList() + " FROM zeplo ORDER BY id";
    // One row at a time: a million books never sit in memory at once.
    if (!PQsendQuery(c.get(), sql.c_str()) || !PQsetSingleRowMode(c.get()))
        c.failWith(say("cannot read the books", "nelze přečíst knihy"), PQerrorMessage(c.get()));
    Book book;
    while (PGresult *raw = PQgetResult(c.get())) {
        const Result result(raw);
        const ExecStatusType status = PQresultStatus(raw);
        if (status == PGRES_TUPLES_OK)
            continue; // the end of the rows
        if (status != PGRES_SINGLE_TUPLE)
            c.failWith(say("cannot read the books", "nelze přečíst knihy"), serverMessage(raw));
        for (std::size_t i = 0; i < kColumnCount; ++i) {
            const int column = static_cast<int>(i);
            Value &value = book[i];
            if (PQgetisnull(raw, 0, column)) {
                value.setNull();
                continue;
            }
            const char *text = PQgetvalue(raw, 0, column);
            const std::size_t length = static_cast<std::size_t>(PQgetlength(raw, 0, column));
            switch (kColumns[i].kind) {
            case Kind::Text:
            case Kind::Memo:
                value.setText(std::string_view(text, length));
                break;
            case Kind::Logical:
                value.setNumber(text[0] == 't' ? 1 : 0);
                break;
            case Kind::Id:
            case Kind::Year: {
                std::int64_t n = 0;
                std::from_chars(text, text + length, n);
                value.setNumber(n);
                break;
            }
            }
        }
        each(book);
    }
}

void PgStore::write(WriteMode mode, const std::function<void(BookSink &)> &fill)
{
    Connection c(uri_, password_, name_);
    c.run("BEGIN");
    std::optional<CopyIn> copy;
    try {
        // The same bounded wait for a lock as on a catalogue file.
        const std::string wait = "SET LOCAL lock_timeout = " + std::to_string(Engine::lockWaitMs());
        c.run(wait.c_str());
        const bool exists = tableExists(c);
        if (mode == WriteMode::MakeNew) {
            if (exists)
                fail(name_ + say(" already holds a catalogue (table zeplo); a catalogue is never overwritten",
                                 " už obsahuje katalog (tabulku zeplo); katalog se nikdy nepřepisuje"));
            // The id is an identity column: a book added without one gets the next value of its sequence.
            c.run(schema::createTable(schema::Flavour::Server).toUtf8().constData());
        } else if (!exists) {
            fail(name_ + say(": there is no catalogue (table zeplo) on this server",
                             ": na tomto serveru není katalog (tabulka zeplo)"));
        }
        // Nobody else adds a book while the ids are given out here; readers go on.
        c.run("LOCK TABLE zeplo IN EXCLUSIVE MODE");
        if (mode == WriteMode::FillEmpty) {
            if (const std::int64_t n = c.number("SELECT count(*) FROM zeplo"))
                fail(name_ + say(" already holds ", " už obsahuje ") + bookCount(n)
                     + say("; only a new or empty catalogue is filled", "; naplnit lze jen nový nebo prázdný katalog"));
        }
        const std::optional<std::string> sequence = c.value("SELECT pg_get_serial_sequence('zeplo', 'id')");
        std::int64_t nextId = c.number("SELECT coalesce(max(id), 0) + 1 FROM zeplo");
        if (sequence)
            nextId = std::max(nextId,
                              c.number("SELECT coalesce(pg_sequence_last_value($1::regclass), 0) + 1",
                                       {sequence->c_str()}) );
        copy.emplace(c, nextId);
        fill(*copy);
        copy->finish();
        // After the books: an index made over the rows at once is made faster
        // than one kept up row by row.
        addSearchIndexes(c);
        // Books added later by the program must get ids above every one given here.
        if (sequence && copy->added() > 0) {
            const std::string last = std::to_string(copy->nextId() - 1);
            c.run("SELECT setval($1::regclass, $2::bigint)", {sequence->c_str(), last.c_str()});
        }
        c.run("COMMIT");
    } catch (...) {
        if (copy)
            copy->abandon();
        // The failure that led here is the one to report; a rollback that
        // fails leaves nothing either, as the session ends unfinished.
        Result(PQexec(c.get(), "ROLLBACK"));
        throw;
    }
    // Outside the transaction, as the server requires: statistics for the
    // planner (so that it takes the search indexes) and a current visibility
    // map (so that the rows are counted from the key's index). A role that
    // does not own the table is only warned by the server; nothing depends on it.
    Result(PQexec(c.get(), "SET client_min_messages = error"));
    Result(PQexec(c.get(), "VACUUM (ANALYZE) zeplo"));
}

void PgStore::addSearchIndexes(Connection &c)
{
    // Trigram indexes on the columns the program searches, on the expression
    // its `like` compares, let the server find a text anywhere in a title
    // without reading every book. pg_trgm is trusted: the database's owner may
    // add it. Without it (not installed, no right) the catalogue works the
    // same, only searching a large one is slower.
    // What is already there is skipped without a notice.
    c.run("SET LOCAL client_min_messages = warning");
    c.run("SAVEPOINT zeplo_search");
    try {
        c.run("CREATE EXTENSION IF NOT EXISTS pg_trgm");
        for (const char *column : {"nazev", "autor", "zanr"}) {
            const std::string sql = std::string("CREATE INDEX IF NOT EXISTS zeplo_") + column
                                    + "_search ON zeplo USING gin ("
                                    + pg::folded(QString::fromLatin1(column)).toStdString() + " gin_trgm_ops)";
            c.run(sql.c_str());
        }
        c.run("RELEASE SAVEPOINT zeplo_search");
    } catch (const std::exception &e) {
        c.run("ROLLBACK TO SAVEPOINT zeplo_search");
        std::fprintf(stderr, "zeplo-catalogue: note: %s; searching a large catalogue there will be slow\n", e.what());
    }
}

} // namespace

std::unique_ptr<CatalogueStore> makePgStore(const std::string &uri, const std::string &password)
{
    return std::make_unique<PgStore>(uri, password);
}

} // namespace zeplo::tool
