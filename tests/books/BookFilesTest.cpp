// The readers and writers of files of books, called in the test's own process:
// what a Czech spreadsheet program wrote is read, previewed and written again
// cell for cell as it wrote it; what a format cannot hold is refused without
// leaving a file; what a format hardly holds comes back as it was written.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "WorkbookCells.h"
#include "books/Books.h"
#include "books/Progress.h"
#include "books/files/BookFile.h"
#include "books/files/BookWriter.h"
#include "engine/Error.h"

using namespace zeplo;
using namespace zeplo::tool;

namespace {

// A book from its values in column order; no value where nothing is given.
Book book(std::initializer_list<std::optional<std::string>> values)
{
    Book b;
    std::size_t i = 0;
    for (const std::optional<std::string> &value : values) {
        if (value && holdsText(kColumns[i].kind))
            b[i].setText(*value);
        else if (value)
            b[i].setNumber(std::stoll(*value));
        ++i;
    }
    return b;
}

// A book's values as text, for comparing and for the failure messages.
std::vector<std::string> shown(const Book &b)
{
    std::vector<std::string> values;
    for (std::size_t i = 0; i < kColumnCount; ++i)
        values.push_back(b[i].null ? "<no value>" : holdsText(kColumns[i].kind) ? b[i].text : std::to_string(b[i].number));
    return values;
}

std::vector<std::vector<std::string>> readBooks(const QString &path)
{
    BookFile file(path.toStdString(), {});
    file.check(noProgress());
    std::vector<std::vector<std::string>> books;
    file.read([&](const Book &b, int) { books.push_back(shown(b)); });
    return books;
}

void writeBooks(const QString &path, const std::vector<Book> &books)
{
    const std::unique_ptr<BookWriter> writer = createBookFile(path.toStdString(), false);
    for (const Book &b : books)
        writer->add(b);
    writer->commit();
}

// A CSV file's records as cells: a text each, an empty field empty.
SheetCells csvCells(const QString &path)
{
    QFile file(path);
    const QString text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    SheetCells rows{{}};
    SheetCell cell;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"' && quoted && i + 1 < text.size() && text[i + 1] == u'"') {
            cell.value += text[++i];
        } else if (c == u'"') {
            quoted = !quoted;
            cell.kind = SheetCell::Text;
        } else if (quoted || (c != u',' && c != u'\r' && c != u'\n')) {
            cell.value += c;
            cell.kind = SheetCell::Text;
        } else if (c == u',' || c == u'\n') {
            rows.last().append(std::exchange(cell, {}));
            if (c == u'\n')
                rows.append(QList<SheetCell>());
        }
    }
    if (rows.last().isEmpty())
        rows.removeLast();
    return rows;
}

const std::vector<std::vector<std::string>> kSampleBooks = {
    shown(book({{}, "Čapek Karel", "Válka s mloky", "Beletrie", "1936", "Satirický román o mlocích.\nDruhý řádek popisu",
                 "1", "1", "Jana Nováková"})),
    shown(book({{}, "Orwell George", "1984", "SCI-FI", "1949", "Antiutopie „Velkého bratra“", "1", "0", {}})),
    shown(book({{}, "Němcová Božena", "Babička", "Beletrie", "1855", "Obrazy venkovského života", "0", "1",
                 "Petr Šťastný"})),
    shown(book({{}, "Hašek Jaroslav", "Osudy dobrého vojáka Švejka", "Válečný", "1921", {}, "1", "1", {}})),
    shown(book({{}, "Žáček Jiří", "Řeřicha a ďáblova úžasná žíně", "Poezie", {}, "Básně pro děti; ilustrace Ťapka",
                 "0", "0", "Úřad „Ůžasná“ knihovna"}))};

class SpreadsheetSample : public testing::TestWithParam<const char *> {};
INSTANTIATE_TEST_SUITE_P(, SpreadsheetSample, testing::Values("knihy-cs.ods", "knihy-cs.xlsx", "knihy-cs-utf8.csv"),
                         [](const testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param).substr(std::string(info.param).rfind('.') + 1);
                         });

} // namespace

// A LibreOffice file is read as its Czech header says, previewed as it will be
// stored, and its books written again by our writer of its format lie in the
// same kinds of cells with the same values: texts as texts (a title "1984"
// too), years as numbers, no value as an empty cell. Only the logical columns
// differ: LibreOffice keeps what its user typed ("ano", "x"), we write 1 or 0.
TEST_P(SpreadsheetSample, IsReadInProcessAndOurExportOfItsBooksAgreesCellByCell)
{
    const QString sample = QStringLiteral(ZEPLO_TEST_DATA "/") + QLatin1String(GetParam());
    const bool csv = sample.endsWith(QLatin1String(".csv"));
    {
        BookFile file(sample.toStdString(), {});
        ASSERT_EQ(file.columns().size(), kColumnCount - 1);
        for (std::size_t j = 0; j < file.columns().size(); ++j)
            EXPECT_EQ(file.columns()[j].target, int(j + 1)) << file.columns()[j].name;
        EXPECT_FALSE(file.hasIds());
        const std::vector<PreviewRow> preview = file.preview(2);
        ASSERT_EQ(preview.size(), 2u);
        EXPECT_EQ(preview[0].line, 2);
        std::vector<std::string> first, second;
        for (std::size_t i = 0; i < kColumnCount; ++i)
            first.push_back(preview[0].cells[i].text), second.push_back(preview[1].cells[i].text);
        EXPECT_EQ(first, (std::vector<std::string>{"", "Čapek Karel", "Válka s mloky", "Beletrie", "1936",
                                                   "Satirický román o mlocích.\nDruhý řádek popisu", "True", "True",
                                                   "Jana Nováková"}));
        EXPECT_EQ(second, (std::vector<std::string>{"", "Orwell George", "1984", "SCI-FI", "1949",
                                                    "Antiutopie „Velkého bratra“", "True", "False", ""}));
    }
    ASSERT_EQ(readBooks(sample), kSampleBooks);

    QTemporaryDir dir;
    const QString ours = dir.filePath(QStringLiteral("export.") + QFileInfo(sample).suffix());
    std::vector<Book> books;
    BookFile file(sample.toStdString(), {});
    file.check(noProgress());
    file.read([&](const Book &b, int) { books.push_back(b); });
    writeBooks(ours, books);

    const SheetCells theirs = csv ? csvCells(sample) : sheetCells(sample);
    const SheetCells mine = csv ? csvCells(ours) : sheetCells(ours);
    ASSERT_EQ(theirs.size(), 6);
    ASSERT_EQ(mine.size(), 6);
    for (qsizetype c = 0; c < mine[0].size(); ++c)
        EXPECT_EQ(mine[0][c], (SheetCell{SheetCell::Text, QLatin1String(kColumns[std::size_t(c)].name)}));
    for (qsizetype r = 1; r < 6; ++r) {
        EXPECT_EQ(mine[r].value(0), SheetCell{}) << "row " << r << ": a book without id has an empty id cell";
        for (std::size_t c = 1; c < kColumnCount; ++c) {
            SCOPED_TRACE(testing::Message() << "row " << r << ", column " << kColumns[c].name);
            const SheetCell theirCell = theirs[r].value(qsizetype(c - 1)), myCell = mine[r].value(qsizetype(c));
            if (kColumns[c].kind == Kind::Logical)
                EXPECT_EQ(myCell, (SheetCell{csv ? SheetCell::Text : SheetCell::Number,
                                             QString::number(books[std::size_t(r - 1)][c].number)}));
            else
                EXPECT_EQ(myCell, theirCell) << myCell.value.toStdString() << " / " << theirCell.value.toStdString();
        }
    }
    // What a program looks at first agrees too.
    if (sample.endsWith(QLatin1String(".ods"))) {
        EXPECT_EQ(firstPart(ours).name, QStringLiteral("mimetype"));
        EXPECT_TRUE(firstPart(ours).stored);
        EXPECT_TRUE(firstPart(sample).stored);
        EXPECT_EQ(zipPart(ours, "mimetype"), zipPart(sample, "mimetype"));
    } else if (sample.endsWith(QLatin1String(".xlsx"))) {
        const QByteArray sheetType = "/xl/worksheets/sheet1.xml\" ContentType="
                                     "\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"";
        EXPECT_TRUE(zipPart(sample, "[Content_Types].xml").contains(sheetType));
        EXPECT_TRUE(zipPart(ours, "[Content_Types].xml").contains(sheetType));
    }
}

// A writer stopped by a book its format cannot hold, or dropped before its
// commit, leaves nothing where its file was to be; an existing file is never
// written over.
TEST(BookFiles, WhatAFormatCannotHoldIsRefusedAndNoFileIsLeft)
{
    QTemporaryDir dir;
    const Book plain = book({"1", "Čapek Karel", "Krakatit", {}, "1924", {}, "1", "0", {}});
    struct Case {
        const char *file;
        Book refused;
        const char *says;
    };
    const std::vector<Case> cases = {
        {"control.ods", book({"2", "Hašek", {}, {}, {}, "zvonek\x07", {}, {}, {}}), "the text holds a control character"},
        {"long.xlsx", book({"3", {}, {}, {}, {}, std::string(32768, 'a'), {}, {}, {}}),
         "the text is longer than an .xlsx cell may be"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = dir.filePath(QLatin1String(c.file));
        {
            const std::unique_ptr<BookWriter> writer = createBookFile(path.toStdString(), false);
            writer->add(plain);
            try {
                writer->add(c.refused);
                ADD_FAILURE() << "the book was taken";
            } catch (const Error &e) {
                EXPECT_NE(e.message().toStdString().find(c.says), std::string::npos) << e.message().toStdString();
            }
        }
        EXPECT_FALSE(QFile::exists(path));
    }
    for (const char *name : {"dropped.csv", "dropped.ods", "dropped.xlsx"}) {
        createBookFile(dir.filePath(QLatin1String(name)).toStdString(), true)->add(plain);
        EXPECT_FALSE(QFile::exists(dir.filePath(QLatin1String(name)))) << name;
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

    const QString existing = dir.filePath(QStringLiteral("existing.xlsx"));
    QFile file(existing);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("a file of its own");
    file.close();
    EXPECT_THROW(createBookFile(existing.toStdString(), false), Error);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "a file of its own");
}

// Texts that look like a format's escapes or like numbers, spaces that a
// format would fold, and the longest text an .xlsx cell holds.
TEST(BookFiles, TextsAFormatHardlyHoldsComeBackAsWritten)
{
    QTemporaryDir dir;
    const std::vector<Book> books = {
        book({"1", "_x000D_ a _x005F_", "007", " -1 ", "1900", "  dvě  mezery \ta tabulátor\r", "0", "1", "=A1"}),
        book({"2", {}, "1e3", {}, {}, std::string(32767, 'a'), {}, {}, "\"; ,"})};
    std::vector<std::vector<std::string>> written;
    for (const Book &b : books)
        written.push_back(shown(b));
    for (const char *name : {"books.csv", "books.ods", "books.xlsx"}) {
        SCOPED_TRACE(name);
        const QString path = dir.filePath(QLatin1String(name));
        writeBooks(path, books);
        EXPECT_EQ(readBooks(path), written);
    }
}
