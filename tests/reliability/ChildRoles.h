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
