#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <ostream>

// A workbook's first sheet as the file holds it, read with libzip and Qt's
// XML reader alone, not with the books' own readers: to compare what they
// write with what another program wrote.

// A cell: its kind as the file declares it, and its value (a text's text,
// a number as written; for an .xlsx text, the shared or inline text).
struct SheetCell {
    enum Kind { Empty, Text, Number, Other } kind = Empty;
    QString value;
    bool operator==(const SheetCell &) const = default;
};
inline void PrintTo(const SheetCell &cell, std::ostream *os)
{
    static const char *const kinds[] = {"empty", "text", "number", "other"};
    *os << kinds[cell.kind] << " \"" << cell.value.toStdString() << '"';
}
// Rows from the first, each its cells from column A, trailing empty cells left out.
using SheetCells = QList<QList<SheetCell>>;

// The first sheet of an .ods or .xlsx workbook, by the file name's ending.
SheetCells sheetCells(const QString &path);

// A part of a zip file; empty when it is missing.
QByteArray zipPart(const QString &path, const char *name);
// The name of the zip file's first part and whether it is stored unpacked.
struct FirstPart {
    QString name;
    bool stored = false;
};
FirstPart firstPart(const QString &path);
