#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "books/Books.h"
#include "engine/Engine.h"
#include "engine/PgConnection.h"

namespace zeplo::tool {

// Takes the books of one write, in order.
class BookSink {
public:
    virtual ~BookSink() = default;
    virtual void add(const Book &book) = 0;
};

// The catalogue refused a book; `index` counts the books given to the sink, from 0.
class BookRefused : public Error {
public:
    BookRefused(std::size_t index, const std::string &why) : Error(QString::fromStdString(why)), index(index) {}
    std::size_t index;
};

// A catalogue server that could not be reached or was lost: the message as
// the other failures say it, and apart, for whoever says it in other words,
// the server as messages name it, why in terms the user can act on, and the
// client library's own words.
class ServerFailed : public Error {
public:
    ServerFailed(const std::string &message, const std::string &server, ServerProblem problem, const QString &why)
        : Error(QString::fromStdString(message)), server(server), problem(problem), why(why)
    {
    }
    std::string server;
    ServerProblem problem;
    QString why;
};

// The engine's failure, told as the catalogue's (`where`): the program's words
// alone for a lock that outlasted the wait, otherwise what failed (`what`, when
// given) and the engine's words. A server's session lost throws ServerFailed.
[[noreturn]] void failOn(const std::string &where, const EngineError &e, const std::string &what = {});

// What a write expects to find.
enum class WriteMode {
    MakeNew,   // no catalogue yet: the table is made in the same transaction
    AddTo,     // an existing catalogue, books or not
    FillEmpty, // an existing catalogue without a book
};

// A catalogue the tool reads and writes: a folder's SQLite file or a table on a
// PostgreSQL server. The commands know only this.
class CatalogueStore {
public:
    virtual ~CatalogueStore() = default;

    // How messages name the catalogue; a server is named without its password.
    virtual const std::string &name() const = 0;
    virtual bool exists() = 0;
    virtual std::uint64_t count() = 0;
    // Every book, in id order.
    virtual void readAll(const std::function<void(const Book &)> &each) = 0;
    // One transaction: checks `mode`, then `fill` gives the books. A book without an
    // id gets the next free one. Whatever fails or is thrown, the catalogue is left
    // as it was, and one made for this write is gone again. Afterwards new books
    // get ids above every stored one.
    virtual void write(WriteMode mode, const std::function<void(BookSink &)> &fill) = 0;
    // Gives an existing catalogue what this version of the program uses of it
    // and it lacks, asking nothing else of the table and leaving its books as
    // they are; true when something was added.
    virtual bool upgrade() = 0;
};

// A libpq connection URI (postgresql://... or postgres://...) names a server's
// catalogue; anything else is a folder holding zeplo.db.
std::unique_ptr<CatalogueStore> openCatalogue(const std::string &where);

// The catalogue as the program names it: a libpq connection URI, or the path of
// a catalogue file (a folder stands for its zeplo.db). A password given apart
// goes to the connection only, never into a name or a message.
std::unique_ptr<CatalogueStore> openProgramCatalogue(const std::string &where, const std::string &password = {});

} // namespace zeplo::tool
