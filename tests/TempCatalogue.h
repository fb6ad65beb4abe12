#pragma once

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>

#include "QtPrinting.h"

#include <sqlite3.h>

// A catalogue in a fresh temporary folder that becomes the working directory
// for the lifetime of the object (the engine finds zeplo.db there).
class TempCatalogue {
public:
    // The main window's base query, the select list every catalogue test reads.
    static inline const QString kBaseQuery =
        QStringLiteral("select id,autor,nazev,zanr,rok_vydani,popis,vlastnim,precteno,pujceno from zeplo");

    static constexpr const char *kSchema =
        "CREATE TABLE zeplo (id INTEGER PRIMARY KEY AUTOINCREMENT, autor VARCHAR(40), nazev VARCHAR(60), "
        "zanr VARCHAR(20), rok_vydani SMALLINT, popis MEMO, vlastnim BOOLEAN, precteno BOOLEAN, pujceno MEMO)";

    explicit TempCatalogue(const char *schema = kSchema, bool wal = true);
    ~TempCatalogue();
    TempCatalogue(const TempCatalogue &) = delete;
    TempCatalogue &operator=(const TempCatalogue &) = delete;

    QString path() const { return dir_.path(); }
    QString file() const { return dir_.filePath(QStringLiteral("zeplo.db")); }

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
};
