#include "TempCatalogue.h"

#include <stdexcept>


namespace {

sqlite3 *openDb(const QString &file)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot open test catalogue");
    sqlite3_busy_timeout(db, 5000);
    return db;
}

void bind(sqlite3_stmt *stmt, int i, const QVariant &v)
{
    if (v.isNull())
        sqlite3_bind_null(stmt, i);
    else if (v.typeId() == QMetaType::Bool)
        sqlite3_bind_int(stmt, i, v.toBool() ? 1 : 0);
    else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong)
        sqlite3_bind_int64(stmt, i, v.toLongLong());
    else {
        const QByteArray b = v.toString().toUtf8();
        sqlite3_bind_text(stmt, i, b.constData(), int(b.size()), SQLITE_TRANSIENT);
    }
}

} // namespace

TempCatalogue::TempCatalogue(const char *schema, bool wal) : previous_(QDir::currentPath())
{
    if (schema) {
        exec(QString::fromUtf8(schema));
        if (wal)
            exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    }
    QDir::setCurrent(dir_.path());
}

TempCatalogue::~TempCatalogue()
{
    QDir::setCurrent(previous_);
}

void TempCatalogue::exec(const QString &sql)
{
    sqlite3 *db = openDb(file());
    char *err = nullptr;
    const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &err);
    const std::string message = err ? err : "";
    sqlite3_free(err);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error("test SQL failed: " + message);
}

QVariant TempCatalogue::scalar(const QString &sql)
{
    sqlite3 *db = openDb(file());
    sqlite3_stmt *stmt = nullptr;
    QVariant result;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
        switch (sqlite3_column_type(stmt, 0)) {
        case SQLITE_INTEGER: result = qint64(sqlite3_column_int64(stmt, 0)); break;
        case SQLITE_NULL: break;
        default: result = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

void TempCatalogue::addBooks(int n)
{
    sqlite3 *db = openDb(file());
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "insert into zeplo(autor,nazev,zanr,rok_vydani,vlastnim,precteno) values(?,?,?,?,?,?)", -1,
                       &stmt, nullptr);
    const int base = int(count());
    for (int i = 1; i <= n; ++i) {
        const int k = base + i;
        bind(stmt, 1, QStringLiteral("Autor %1").arg(k));
        bind(stmt, 2, QStringLiteral("Kniha %1").arg(k));
        bind(stmt, 3, QStringLiteral("Beletrie"));
        bind(stmt, 4, 1900 + k % 100);
        bind(stmt, 5, k % 2 == 0);
        bind(stmt, 6, k % 3 == 0);
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

void TempCatalogue::addBook(const QString &autor, const QString &nazev, const QString &zanr, const QVariant &rok,
                            const QVariant &vlastnim, const QVariant &precteno, const QVariant &pujceno,
                            const QVariant &popis)
{
    sqlite3 *db = openDb(file());
    sqlite3_stmt *stmt = nullptr;
    sqlite3_prepare_v2(db, "insert into zeplo(autor,nazev,zanr,rok_vydani,vlastnim,precteno,pujceno,popis) "
                           "values(?,?,?,?,?,?,?,?)", -1, &stmt, nullptr);
    bind(stmt, 1, autor.isNull() ? QVariant() : QVariant(autor));
    bind(stmt, 2, nazev.isNull() ? QVariant() : QVariant(nazev));
    bind(stmt, 3, zanr.isNull() ? QVariant() : QVariant(zanr));
    bind(stmt, 4, rok);
    bind(stmt, 5, vlastnim);
    bind(stmt, 6, precteno);
    bind(stmt, 7, pujceno);
    bind(stmt, 8, popis);
    sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
}
