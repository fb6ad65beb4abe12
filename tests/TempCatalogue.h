#pragma once

#include <memory>

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include "QtPrinting.h"
#include "ServerDatabase.h"
#include "engine/CatalogueSchema.h"

#include <sqlite3.h>

#include <gtest/gtest.h>

struct pg_conn;

// Where a catalogue lives: a file in write-ahead-log mode, a file with the
// rollback journal the engine keeps on a network file system, or a database
// on the test server; ServerTls is the server over an encrypted connection
// that verifies its certificate.
enum class CatalogueEngine { File, FileJournal, Server, ServerTls };
inline const auto kEachEngine =
    testing::Values(CatalogueEngine::File, CatalogueEngine::FileJournal, CatalogueEngine::Server);
inline const auto kEachFileMode = testing::Values(CatalogueEngine::File, CatalogueEngine::FileJournal);
const char *engineLabel(CatalogueEngine engine);
std::string engineName(const testing::TestParamInfo<CatalogueEngine> &info);
inline void PrintTo(CatalogueEngine engine, std::ostream *os)
{
    *os << engineLabel(engine);
}

// A catalogue in a fresh temporary folder that becomes the working directory
// for the lifetime of the object (the engine finds zeplo.db there). On the
// server it is a database of its own on the test server (ServerDatabase),
// named as the run's catalogue while the object lives.
class TempCatalogue {
public:
    // The main window's base query, the select list every catalogue test reads.
    static inline const QString kBaseQuery = zeplo::schema::selectAll();

    // The table as earlier versions made it (the long texts MEMO), which the program reads as it is.
    static inline const std::string kSchemaText = zeplo::schema::createTable(zeplo::schema::Flavour::OlderFile).toStdString();
    static inline const char *const kSchema = kSchemaText.c_str();

    explicit TempCatalogue(const char *schema = kSchema, bool wal = true);
    // The schema is written for catalogue files; on the server its types become the server's.
    // With the rollback journal, the engine keeps it for every file opened while the object lives.
    explicit TempCatalogue(CatalogueEngine engine, const char *schema = kSchema);
    ~TempCatalogue();
    TempCatalogue(const TempCatalogue &) = delete;
    TempCatalogue &operator=(const TempCatalogue &) = delete;

    QString path() const { return dir_.path(); }
    QString file() const { return dir_.filePath(QStringLiteral("zeplo.db")); }
    CatalogueEngine engine() const { return engine_; }
    bool onServer() const { return engine_ == CatalogueEngine::Server; }
    QString uri() const { return uri_; }
    QString readOnlyUri() const;   // the same database as the role that may only read

    // Keeps every other writer out, as another program's long write would, until
    // unlock(); with `readersToo` readers as well, as VACUUM FULL would on the
    // server (a file keeps them out only with the rollback journal).
    void lockWriters(bool readersToo = false);
    void unlock();

    // On the server, the triggers by which the table tells listening programs of
    // changed books, as the catalogue tool makes them; a file needs none.
    void addChangeNotices();

    // Runs SQL on a connection of its own, as another program would.
    void exec(const QString &sql);
    QVariant scalar(const QString &sql);
    qint64 count() { return scalar(QStringLiteral("select count(*) from zeplo")).toLongLong(); }
    // Adds `n` books "Autor i", "Kniha i", rok 1900+i.
    void addBooks(int n);
    void addBook(const QString &autor, const QString &nazev, const QString &zanr = QString(),
                 const QVariant &rok = QVariant(), const QVariant &vlastnim = QVariant(),
                 const QVariant &precteno = QVariant(), const QVariant &pujceno = QVariant(),
                 const QVariant &popis = QVariant());

private:
    QTemporaryDir dir_;
    QString previous_;
    CatalogueEngine engine_ = CatalogueEngine::File;
    std::unique_ptr<ServerDatabase> server_;
    QString uri_;
    QString previousCatalogue_;
    bool previousJournal_ = false;
    sqlite3 *fileLock_ = nullptr;
    pg_conn *serverLock_ = nullptr;
};
