#include "CatalogueFile.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

sqlite3 *openFile(const QString &file, int flags)
{
    sqlite3 *db = nullptr;
    // SQLite's own file system, never a layer a test put over it.
    sqlite3_open_v2(QFile::encodeName(file).constData(), &db, flags, "unix");
    sqlite3_extended_result_codes(db, 1);
    return db;
}

// Whether a first read finds a journal that only a writer could roll back.
bool journalToRollBack(sqlite3 *db)
{
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA schema_version", -1, &stmt, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    return rc == SQLITE_READONLY_ROLLBACK;
}

} // namespace

bool readCatalogueFile(const QString &file, const std::function<void(sqlite3 *)> &read)
{
    sqlite3 *db = openFile(file, SQLITE_OPEN_READONLY);
    const bool hot = journalToRollBack(db);
    if (!hot) {
        read(db);
        sqlite3_close(db);
        return false;
    }
    sqlite3_close(db);
    QTemporaryDir scratch;
    const QString copy = scratch.filePath(QStringLiteral("zeplo.db"));
    QFile::copy(file, copy);
    QFile::copy(file + QStringLiteral("-journal"), copy + QStringLiteral("-journal"));
    db = openFile(copy, SQLITE_OPEN_READWRITE);
    read(db);
    sqlite3_close(db);
    return true;
}
