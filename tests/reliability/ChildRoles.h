#pragma once

#include <QString>
#include <QVariant>
#include <QVector>

// The select text the children and the tests open.
extern const QString kBookColumns;

// The book that a stream of posts writes as its n-th: every column filled, the
// description long enough that one row spans several pages of the file, so
// that a half-written row would show.
struct ChurnBook {
    QString autor, nazev, zanr, popis, pujceno;
    qint64 rok = 0;
    bool vlastnim = false, precteno = false;
    bool operator==(const ChurnBook &) const = default;
};
ChurnBook churnBook(int n);

// The program's start on the catalogue of ZEPLO_CATALOGUE, up to its main
// window: the password window, when it comes, answered by `answers` in turn
// ("PASSWORD", "PASSWORD+remember", or "cancel"), each showing said as
// "asked PROBLEM|REMEMBER|NOTE"; then "started", "cancelled" or "error TEXT".
void startAsTheProgram(const QStringList &answers);
