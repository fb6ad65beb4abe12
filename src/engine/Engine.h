#pragma once

#include <memory>

#include <QString>

#include "engine/Error.h"

namespace zeplo {

class ChangeWatch;
class Cursor;

// An error reported by the database engine, carrying the engine's own text.
class EngineError : public Error {
public:
    using Error::Error;
};

// A database engine holding the catalogue table. The result set, the fields,
// the grid and the report know only this interface; each engine translates the
// program's SQL dialect for itself and opens cursors over its results.
class Engine {
public:
    virtual ~Engine() = default;

    // The catalogue this run works on: the file zeplo.db in the process's
    // working directory unless setCatalogue() named another one. Engines are
    // shared while anything holds them.
    static std::shared_ptr<Engine> openDefault();

    // Names the catalogue for the rest of the run: a libpq connection URI
    // (postgresql://...) selects the server, any other text is the path of a
    // catalogue file; an empty text is zeplo.db in the working directory again.
    static void setCatalogue(const QString &catalogue);
    static QString catalogue();

    // The password for the server catalogue, given apart from its URI (typed
    // by the user or taken from the desktop's keyring): kept in memory for the
    // run, given to the connection alone, never shown. Sessions made later use
    // a new one; an empty one lets the client library find its own.
    static void setServerPassword(const QString &password);
    static QString serverPassword();

    // How long a command waits for another program's lock (5 s unless set;
    // connections made later take a new value), and what it says then.
    static int lockWaitMs();
    static void setLockWaitMs(int milliseconds);
    static QString lockedMessage();

    // Whether the catalogue can only be read (file permissions, a read-only role).
    virtual bool readOnly() const = 0;

    // Runs `dialectSql`. An updatable cursor is asked for with `live`; the
    // engine gives one when the text is a simple select of one table.
    virtual std::unique_ptr<Cursor> openCursor(const QString &dialectSql, bool live) = 0;

    // What tells the program of changes other programs make to the catalogue;
    // null when nothing can.
    virtual std::unique_ptr<ChangeWatch> watchChanges();
};

} // namespace zeplo
