// Files a careless program or a hostile sender could make, built here at run
// time (kilobytes on disk, up to gigabytes unpacked): the tool refuses each with
// one short line, within bounded memory and time, the catalogue left as it was;
// or it imports the odd value exactly.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
#include <optional>
#include <vector>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include "BookInputs.h"

namespace {

// The tool's memory and time are measured, but not under the sanitizers.
#if defined(NDEBUG) && !defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasured = true;
#else
constexpr bool kMeasured = false;
#endif

// A part of a zip file: `head`, `piece` `repeats` times, `tail`; the archive
// states `stated` as its size, its true size when unset.
struct Part {
    std::string name;
    QByteArray head, piece = {};
    quint64 repeats = 0;
    QByteArray tail = {};
    std::optional<quint64> stated = {};
};

// Raw deflate of `data` from a fresh stream, ended by a full flush (the stream
// stays open at a byte boundary with nothing to refer back to) or finished.
QByteArray deflated(const QByteArray &data, int flush)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size())) + 64), '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData())), z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data()), z.avail_out = uInt(out.size());
    deflate(&z, flush);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

uLong crcOf(const QByteArray &data) { return crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())); }

// The CRC of `piece` repeated `n` times, by doubling.
uLong repeatedCrc(const QByteArray &piece, quint64 n)
{
    uLong result = crc32(0, nullptr, 0), power = crcOf(piece);
    for (z_off_t length = z_off_t(piece.size()); n; n >>= 1, power = crc32_combine(power, power, length), length *= 2)
        if (n & 1)
            result = crc32_combine(result, power, length);
    return result;
}

// Little-endian fields of a zip file's records.
QByteArray fields(std::initializer_list<std::pair<quint64, int>> values)
{
    QByteArray out;
    for (const auto &[value, bytes] : values)
        for (int i = 0; i < bytes; ++i)
            out += char((value >> (8 * i)) & 0xFF);
    return out;
}

// A zip file of deflated parts whose repeated piece is deflated once and its bytes repeated.
void writeZip(const QString &path, const std::vector<Part> &parts)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QByteArray directory;
    for (const Part &part : parts) {
        const QByteArray first = deflated(part.head, Z_FULL_FLUSH), piece = deflated(part.piece, Z_FULL_FLUSH),
                         last = deflated(part.tail, Z_FINISH);
        const quint64 size = quint64(part.head.size() + part.tail.size()) + quint64(part.piece.size()) * part.repeats;
        const uLong crc = crc32_combine(crc32_combine(crcOf(part.head), repeatedCrc(part.piece, part.repeats),
                                                      z_off_t(part.piece.size() * part.repeats)),
                                        crcOf(part.tail), z_off_t(part.tail.size()));
        const quint64 packed = quint64(first.size() + last.size()) + quint64(piece.size()) * part.repeats;
        // version, flags, deflate, time and date, crc, sizes, name length, extra length
        const QByteArray common = fields({{20, 2}, {0, 2}, {8, 2}, {0, 4}, {crc, 4}, {packed, 4},
                                          {part.stated.value_or(size), 4}, {part.name.size(), 2}, {0, 2}})
                                  + QByteArray::fromStdString(part.name);
        directory += fields({{0x02014b50, 4}, {20, 2}}) + common.left(26) + fields({{0, 6}, {0, 4}, {quint64(file.pos()), 4}})
                     + common.mid(26);
        file.write(fields({{0x04034b50, 4}}) + common + first + piece.repeated(qsizetype(part.repeats)) + last);
    }
    file.write(directory + fields({{0x06054b50, 4}, {0, 4}, {parts.size(), 2}, {parts.size(), 2}, {quint64(directory.size()), 4},
                                   {quint64(file.pos()), 4}, {0, 2}}));
}

const QByteArray kXml = R"(<?xml version="1.0" encoding="UTF-8"?>)";
const QByteArray kMain = R"( xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main")";
const QByteArray kSheetHead = kXml + "<worksheet" + kMain + "><sheetData>";
const QByteArray kSheetTail = "</sheetData></worksheet>";
const QByteArray kHeader = R"(<row r="1"><c r="A1" t="inlineStr"><is><t>Název</t></is></c>)"
                           R"(<c r="B1" t="inlineStr"><is><t>Rok vydání</t></is></c></row>)";

// An .xlsx workbook of a sheet and other parts, with the workbook part and the
// relationships of the fuzz targets' unless the others hold one.
std::vector<Part> xlsx(Part sheet, std::vector<Part> others = {})
{
    sheet.name = "xl/worksheets/sheet1.xml";
    if (std::none_of(others.begin(), others.end(), [](const Part &part) { return part.name == "xl/workbook.xml"; }))
        others.push_back({"xl/workbook.xml", zeplo::fuzz::kWorkbookPart});
    others.push_back({"xl/_rels/workbook.xml.rels", zeplo::fuzz::kWorkbookRelationships});
    others.push_back(std::move(sheet));
    return others;
}

const QByteArray kContentHead =
    kXml + R"(<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0")"
    R"( xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0")"
    R"( xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0">)"
    R"(<office:body><office:spreadsheet><table:table table:name="Knihy"><table:table-row>)"
    R"(<table:table-cell office:value-type="string"><text:p>Název</text:p></table:table-cell>)"
    R"(<table:table-cell office:value-type="string"><text:p>Rok vydání</text:p></table:table-cell></table:table-row>)";
const QByteArray kContentTail = "</table:table></office:spreadsheet></office:body></office:document-content>";
std::vector<Part> ods(Part content)
{
    content.name = "content.xml";
    return {{"mimetype", "application/vnd.oasis.opendocument.spreadsheet"}, std::move(content)};
}

// The peak is the tool's, or that of a child of this test before it.
struct ToolResult { int exitCode = -1; std::string err; long peakKilobytes = 0; double cpuSeconds = 0; };

// Runs the tool; its peak memory and processor time come from the kernel's
// account of this process's children (a process of its own for each test).
ToolResult runTool(const QStringList &args)
{
    rusage before{}, after{};
    getrusage(RUSAGE_CHILDREN, &before);
    QProcess tool;
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.start(QStringLiteral(ZEPLO_TOOL_PATH), args);
    if (!tool.waitForFinished(300000))
        tool.kill(), tool.waitForFinished();
    getrusage(RUSAGE_CHILDREN, &after);
    const auto seconds = [](const rusage &u) {
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    return {tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1, tool.readAllStandardError().toStdString(),
            after.ru_maxrss, seconds(after) - seconds(before)};
}

// Every book of a catalogue folder, a line each.
std::string books(const std::string &folder)
{
    sqlite3 *db = nullptr;
    std::string all;
    if (sqlite3_open_v2((folder + "/zeplo.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK)
        sqlite3_exec(db, "select * from zeplo order by id", [](void *out, int n, char **values, char **) {
            for (int i = 0; i < n; ++i)
                *static_cast<std::string *>(out) += std::string(values[i] ? values[i] : "<NULL>") + (i + 1 < n ? "|" : "\n");
            return 0;
        }, &all, nullptr);
    sqlite3_close(db);
    return all;
}

class HostileFiles : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(runTool({"demo", QString::fromStdString(catalogue()), "3"}).exitCode, 0);
        before = books(catalogue());
    }
    std::string catalogue() const { return dir.filePath(QStringLiteral("katalog")).toStdString(); }
    std::string file(const char *name, const std::vector<Part> &parts) const
    {
        const QString path = dir.filePath(QString::fromLatin1(name));
        writeZip(path, parts);
        return path.toStdString();
    }
    std::string file(const char *name, const QByteArray &csv) const
    {
        zeplo::fuzz::writeBookInput(zeplo::fuzz::BookInput::Csv, csv, dir.filePath(QString::fromLatin1(name)));
        return dir.filePath(QString::fromLatin1(name)).toStdString();
    }
    // Imports; checks the bounds, and that what it says is short (two lines at most: the decisions, the refusal).
    ToolResult import(const std::string &path, QStringList options = {})
    {
        const ToolResult run = runTool(QStringList{"import"} + options
                                       + QStringList{QString::fromStdString(catalogue()), QString::fromStdString(path)});
        // The issue's bound of memory; time enough for the largest part a workbook may have.
        EXPECT_TRUE(!kMeasured || (run.peakKilobytes < 300 * 1024 && run.cpuSeconds < 20))
            << run.peakKilobytes << " KB, " << run.cpuSeconds << " s";
        EXPECT_LT(run.err.size(), 800u) << run.err.substr(0, 800);
        EXPECT_EQ(run.err.find("std::"), std::string::npos) << run.err.substr(0, 400);
        return run;
    }

    QTemporaryDir dir;
    std::string before;
};

} // namespace

TEST_F(HostileFiles, AreRefusedWithOneLineWithinBoundsAndTheCatalogueUnchanged)
{
    const QByteArray spaces(1 << 20, ' ');
    // `slow`: read as far as a limit lets it, which is not done under the sanitizers.
    struct Case { const char *name; std::string path; const char *says; bool slow = false; };
    QByteArray attributes = kSheetHead + kHeader + "<row><c";
    for (int i = 0; i < 100000; ++i)
        attributes += " a" + QByteArray::number(i) + "=\"\"";
    attributes += "/></row>" + kSheetTail;
    const QByteArray popis = R"(<row r="1"><c t="inlineStr"><is><t>Popis</t></is></c></row>)";
    const std::vector<Case> cases = {
        {"a sheet of 3 GiB of spaces", file("spaces.xlsx", xlsx({"", kSheetHead + kHeader, spaces, 3072, kSheetTail})),
         "xl/worksheets/sheet1.xml: the part is larger than 256 MiB"},
        {"a sheet that says 1 KB and unpacks to 3 GiB", file("liar.xlsx", xlsx({"", kSheetHead + kHeader, spaces, 3072,
         kSheetTail, 1024})), "unpacks to more than the 1024 bytes the zip file says"},
        {"a text of spaces past any cell's", file("text.xlsx", xlsx({"", kSheetHead + kHeader + "<row><c><v>", spaces,
                                                                     200, "</v></c></row>" + kSheetTail, 200u << 20})),
         "row 2: the workbook's part xl/worksheets/sheet1.xml holds a text or a tag longer than 16 MiB"},
        {"3 GiB of one-letter shared texts",
         file("shared.xlsx", xlsx({"", kSheetHead + kHeader + kSheetTail},
                                  {{"xl/sharedStrings.xml", kXml + "<sst" + kMain + ">", QByteArray("<si><t>a</t></si>").repeated(65536),
                                    3072, "</sst>", 250u << 20}})),
         "xl/sharedStrings.xml has more than 16,777,216 elements", true},
        {"a workbook part of 1000 MiB",
         file("book.xlsx", xlsx({"", kSheetHead + kHeader + kSheetTail}, {{"xl/workbook.xml", zeplo::fuzz::kWorkbookPart, spaces, 1000}})),
         "xl/workbook.xml: the part is larger than 16 MiB"},
        {"an entity declared outside",
         file("entity.xlsx", xlsx({"", kXml + R"(<!DOCTYPE w [<!ENTITY e SYSTEM "file:///etc/passwd">]>)" + kSheetHead + kHeader
                                           + R"(<row><c t="inlineStr"><is><t>&e;</t></is></c></row>)" + kSheetTail})),
         "declares a DTD (<!DOCTYPE …>), which spreadsheet programs never write"},
        {"UTF-16 text", file("utf16.xlsx", xlsx({"", QByteArray("\xFF\xFE<\0w\0>\0", 8)})), "holds a zero byte"},
        {"an element of 100,000 attributes", file("many.xlsx", xlsx({"", attributes})), "has an element with more than 256 attributes"},
        {"3 GiB of empty rows",
         file("rows.ods", ods({"", kContentHead, QByteArray("<table:table-row><table:table-cell/></table:table-row>").repeated(20000), 3072,
                               kContentTail, 250u << 20})),
         "content.xml unpacks to more than the 262144000 bytes the zip file says", true},
        {"a row of values repeated 2147483647 times",
         file("repeat.ods", ods({"", kContentHead + R"(<table:table-row table:number-rows-repeated="2147483647">)"
                                        R"(<table:table-cell office:value-type="string"><text:p>Krakatit</text:p></table:table-cell>)"
                                        "</table:table-row>" + kContentTail})),
         "row 2: the row is repeated past the last row a sheet may have (1,048,576)"},
        {"spans nested 100,000 deep", file("deep.ods", ods({"", kContentHead + QByteArray("<text:span>").repeated(100000)})),
         "nests its elements more than 256 deep"},
        {"a cell of 64 GiB of spaces",
         file("spaces.ods", ods({"", kContentHead + R"(<table:table-row><table:table-cell office:value-type="string"><text:p>)",
                                 QByteArray(R"(<text:s text:c="65536"/>)").repeated(1024), 1024,
                                 "</text:p></table:table-cell></table:table-row>" + kContentTail})),
         "row 2: a cell holds more than 16 MiB of text"},
        {"a text of 8 MiB named 100,000 times",
         file("references.xlsx", xlsx({"", kSheetHead + popis, R"(<row><c t="s"><v>0</v></c></row>)", 100000, kSheetTail},
                                      {{"xl/sharedStrings.xml", kXml + "<sst" + kMain + "><si><t>", spaces, 8, "</t></si></sst>"}})),
         "the sheet's rows, their repeats counted, hold more than 1 GiB", true},
        {"a year of 20 MB", file("year.csv", "Název,Rok vydání\nKrakatit," + QByteArray(20 << 20, '9') + "\n"),
         "line 2: column rok_vydani: \"999999999999999999999999999999999999999999999999999999999999…\" is not a year"},
        {"an error cell", file("error.xlsx", xlsx({"", kSheetHead + kHeader + R"(<row r="2"><c r="A2" t="e"><v>#N/A</v></c>)"
                                                               R"(<c r="B2"><v>1936</v></c></row>)" + kSheetTail})),
         "error.xlsx, row 2: cell A2 holds the error #N/A, not a value"},
        {"an error cell of LibreOffice's", file("error.ods", ods({"", kContentHead + R"(<table:table-row><table:table-cell/>)"
            R"(<table:table-cell office:value-type="float" office:value="0" calcext:value-type="error"><text:p>#DIV/0!</text:p>)"
            "</table:table-cell></table:table-row>" + kContentTail})),
         "error.ods, row 2: cell B2 holds the error #DIV/0!, not a value"},
    };
    for (const Case &c : cases) {
        if (c.slow && !kMeasured)
            continue;
        SCOPED_TRACE(c.name);
        const ToolResult run = import(c.path);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err.substr(0, 400);
        EXPECT_EQ(books(catalogue()), before);
    }
}

TEST_F(HostileFiles, DatesAreReadByTheirCellsAndStyles)
{
    const QByteArray styles = kXml + "<styleSheet" + kMain + R"(><numFmts count="2"><numFmt numFmtId="164" formatCode="d/m/yyyy;@"/>)"
                              R"(<numFmt numFmtId="165" formatCode="0.00&quot; d&quot;"/></numFmts>)"
                              R"(<cellXfs count="4"><xf numFmtId="0"/><xf numFmtId="14"/><xf numFmtId="164"/><xf numFmtId="165"/></cellXfs></styleSheet>)";
    const auto row = [](int n, const char *title, const QByteArray &year) {
        return "<row r=\"" + QByteArray::number(n) + "\"><c t=\"inlineStr\"><is><t>" + title + "</t></is></c>" + year + "</row>";
    };
    // A date style gives the year; "0.00 d" is no date (its d is quoted); a date cell and a 1904 workbook give theirs.
    const std::string dates = file("dates.xlsx", xlsx({"", kSheetHead + kHeader + row(2, "Válka s mloky", R"(<c s="1"><v>13210</v></c>)")
                                                            + row(3, "R.U.R.", R"(<c s="2"><v>7640.75</v></c>)")
                                                            + row(4, "Krakatit", R"(<c s="3"><v>1924</v></c>)")
                                                            + row(5, "Babička", R"(<c t="d"><v>1855-01-01T00:00:00</v></c>)") + kSheetTail},
                                                      {{"xl/styles.xml", styles}}));
    ASSERT_EQ(import(dates).exitCode, 0);
    const std::string since1904 = file("1904.xlsx", xlsx({"", kSheetHead + kHeader + row(2, "Bílá nemoc", R"(<c s="1"><v>12484</v></c>)") + kSheetTail},
                                                         {{"xl/styles.xml", styles}, {"xl/workbook.xml", QByteArray(zeplo::fuzz::kWorkbookPart).replace("<sheets>", R"(<workbookPr date1904="1"/><sheets>)")}}));
    ASSERT_EQ(import(since1904).exitCode, 0);
    const std::string odsDate = file("date.ods", ods({"", kContentHead + R"(<table:table-row><table:table-cell office:value-type="string">)"
                                                           R"(<text:p>Dášeňka</text:p></table:table-cell><table:table-cell office:value-type="date")"
                                                           R"( office:date-value="1933-05-02T00:00:00"><text:p>2. 5. 1933</text:p></table:table-cell>)"
                                                           "</table:table-row>" + kContentTail}));
    ASSERT_EQ(import(odsDate).exitCode, 0);
    EXPECT_EQ(books(catalogue()).substr(before.size()),
              "4|<NULL>|Válka s mloky|<NULL>|1936|<NULL>|<NULL>|<NULL>|<NULL>\n"
              "5|<NULL>|R.U.R.|<NULL>|1920|<NULL>|<NULL>|<NULL>|<NULL>\n"
              "6|<NULL>|Krakatit|<NULL>|1924|<NULL>|<NULL>|<NULL>|<NULL>\n"
              "7|<NULL>|Babička|<NULL>|1855|<NULL>|<NULL>|<NULL>|<NULL>\n"
              "8|<NULL>|Bílá nemoc|<NULL>|1938|<NULL>|<NULL>|<NULL>|<NULL>\n"
              "9|<NULL>|Dášeňka|<NULL>|1933|<NULL>|<NULL>|<NULL>|<NULL>\n");
}

TEST_F(HostileFiles, ManyIgnoredColumnsAreNamedByTheFirstFewAndTheirCount)
{
    QByteArray csv = "Název";
    for (int i = 0; i < 100000; ++i)
        csv += ",Sloupec " + QByteArray::number(i);
    csv += "\nKrakatit" + QByteArray(100000, ',') + "\n";
    const ToolResult run = import(file("columns.csv", csv), {"--ignore-unknown"});
    ASSERT_EQ(run.exitCode, 0) << run.err.substr(0, 400);
    EXPECT_EQ(run.err, "zeplo-catalogue: read as UTF-8, separated by commas; columns Název→nazev; ignored 100000 columns: "
                       "Sloupec 0, Sloupec 1, Sloupec 2, Sloupec 3, Sloupec 4, …\n");
}
