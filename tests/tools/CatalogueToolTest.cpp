#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include "ServerDatabase.h"
#include "ErrorOf.h"
#include "WindowLink.h"
#include "engine/CatalogueSchema.h"
#include "engine/Engine.h"
#include "engine/Field.h"
#include "engine/PgDialect.h"
#include "engine/ResultSet.h"

namespace {

const char *const kExpectedSchema =
    "CREATE TABLE zeplo (\n"
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,\n"
    "  autor VARCHAR(40), nazev VARCHAR(60), zanr VARCHAR(20),\n"
    "  rok_vydani SMALLINT, popis TEXT, vlastnim BOOLEAN, precteno BOOLEAN, pujceno TEXT)";

const std::set<std::string> kGenres = {
    "Astrologie", "Atlas", "Beletrie", "Cestopis", "Časopis", "Detektivka", "Dětská liter.",
    "Divadelní hra", "Dívčí román", "Dobrodružné", "Dokument", "Encyklopedie", "Erotika",
    "Fantasy", "Historie", "Horor", "Komedie", "Kuchařka", "Krimy", "Návod/manuál", "Noviny",
    "Odborná liter.", "Poezie", "Pohádka", "Průvodce", "Příručka", "Psychologie", "Romantika",
    "Slovník", "SCI-FI", "Učebnice", "Válečný", "Western", "Životopis", "Jiné"};

const std::string kNull = "<NULL>";
using Rows = std::vector<std::vector<std::string>>;

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

ToolRun runTool(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(ZEPLO_TOOL_PATH), args);
    ToolRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        run.err = "the tool did not finish";
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput().toStdString();
    run.err = process.readAllStandardError().toStdString();
    return run;
}

// Every row of a query, each value as text, NULL as kNull.
Rows query(const QString &dbFile, const char *sql)
{
    Rows rows;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(dbFile.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << dbFile.toStdString();
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db);
    } else {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const auto *text = sqlite3_column_text(stmt, i);
                row.push_back(text ? reinterpret_cast<const char *>(text) : kNull);
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

std::string scalar(const QString &dbFile, const char *sql)
{
    const Rows rows = query(dbFile, sql);
    return rows.empty() || rows[0].empty() ? kNull : rows[0][0];
}

const char *const kAllColumns =
    "select id,autor,nazev,zanr,rok_vydani,popis,vlastnim,precteno,pujceno from zeplo order by id";

class CatalogueTool : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tmp.isValid()); }

    QString path(const QString &name) const { return tmp.filePath(name); }
    QString dbIn(const QString &dir) const { return path(dir + "/zeplo.db"); }

    QString writeCsv(const QString &name, const std::string &content) const
    {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content.data(), static_cast<qint64>(content.size()));
        return file.fileName();
    }

    QString readFile(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir tmp;
};

// The same, with a database of its own on the test server.
class CatalogueToolOnServer : public CatalogueTool {
protected:
    void SetUp() override
    {
        CatalogueTool::SetUp();
        server.emplace();
        ASSERT_TRUE(server->ok());
    }
    QString uri() const { return QString::fromStdString(server->uri()); }

    std::optional<ServerDatabase> server;
};

// Values a careless writer or reader of CSV, or of the server's COPY data, would
// change: Czech letters, quotes, commas, every kind of line break, tabs,
// backslashes and the COPY null marker as text, empty texts against nulls,
// number-like texts, spaces at the ends, a gap in the ids.
const std::string kHardCsv =
    "id,autor,nazev,zanr,rok_vydani,popis,vlastnim,precteno,pujceno\n"
    "1003,\"Čapek, Karel\",\"Válka s \"\"mloky\"\"\",Beletrie,1936,\"řádek 1\r\nřádek 2\nřádek 3\rkonec\",1,0,\n"
    "1004,\"\",\"\",\"\",,\"\",0,,\"\"\n"
    "1007,,,,-32768,,,1,\n"
    "1008,ĚŠČŘŽÝÁÍÉÚŮŤĎŇÓ ěščřžýáíéúůťďňó,\\N a \\\\ a\ttab,SCI-FI,2024,007,1,1,1e3\n"
    "1012, mezery ,  ,Jiné,0,\"  12 \",0,0,\"Jana, Nová\"\n";

} // namespace

TEST_F(CatalogueTool, CreateMakesTheExactSchemaInWalModeWithLargePages)
{
    const ToolRun run = runTool({"create", path("a/b")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const QString db = dbIn("a/b");
    EXPECT_EQ(scalar(db, "select sql from sqlite_master where type='table' and name='zeplo'"),
              kExpectedSchema);
    EXPECT_EQ(scalar(db, "pragma journal_mode"), "wal");
    EXPECT_EQ(scalar(db, "pragma page_size"), "16384");
    EXPECT_EQ(scalar(db, "select count(*) from zeplo"), "0");
}

TEST_F(CatalogueTool, CreateRefusesAnExistingCatalogueAndLeavesItAlone)
{
    ASSERT_EQ(runTool({"create", path("c")}).exitCode, 0);
    query(dbIn("c"), "insert into zeplo (nazev) values ('Krakatit')");

    const ToolRun again = runTool({"create", path("c")});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
    EXPECT_EQ(scalar(dbIn("c"), "select nazev from zeplo"), "Krakatit");

    const ToolRun demo = runTool({"demo", path("c"), "5"});
    EXPECT_EQ(demo.exitCode, 1);
    EXPECT_EQ(scalar(dbIn("c"), "select count(*) from zeplo"), "1");
}

TEST_F(CatalogueTool, ImportReadsQuotedCzechCsvWithColumnsInAnyOrder)
{
    // Byte-order mark, CRLF line ends, a header in mixed case and another order,
    // quoted commas, doubled quotes, a line break inside a field, an empty line,
    // empty fields (no value) against "" (an empty text), and a 40-character
    // author of two-byte letters.
    const std::string longAuthor = "ČŘŠŽÁÉĚÍÝÚŮčřšžáéěíýúůČŘŠŽÁÉĚÍÝÚŮčřšžáé";
    const std::string csv = "\xEF\xBB\xBF"
                            "Nazev, AUTOR ,rok_vydani,Vlastnim,precteno,popis,zanr\r\n"
                            "\"Válka s mloky\",\"Čapek, Karel\",1936,ano,NE,\"Mloci \"\"mluví\"\"\r\n"
                            "druhý řádek\",Beletrie\r\n"
                            "\r\n"
                            "Babička,Němcová Božena,,true,0,,\r\n"
                            "Krakatit," + longAuthor + ",-32768,1,False,\"\",SCI-FI\r\n";
    const QString file = writeCsv("books.csv", csv);

    const ToolRun run = runTool({"import", path("new"), file});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const Rows rows = query(dbIn("new"), kAllColumns);
    const Rows expected = {
        {"1", "Čapek, Karel", "Válka s mloky", "Beletrie", "1936", "Mloci \"mluví\"\r\ndruhý řádek",
         "1", "0", kNull},
        {"2", "Němcová Božena", "Babička", kNull, kNull, kNull, "1", "0", kNull},
        {"3", longAuthor, "Krakatit", "SCI-FI", "-32768", "", "1", "0", kNull}};
    EXPECT_EQ(rows, expected);
    EXPECT_EQ(scalar(dbIn("new"), "select typeof(vlastnim) || typeof(rok_vydani) from zeplo where id=1"),
              "integerinteger");
    // The catalogue made on the way is a proper one.
    EXPECT_EQ(scalar(dbIn("new"), "select sql from sqlite_master where name='zeplo'"), kExpectedSchema);
    EXPECT_EQ(scalar(dbIn("new"), "pragma journal_mode"), "wal");
}

TEST_F(CatalogueTool, ImportAddsToAnExistingCatalogue)
{
    ASSERT_EQ(runTool({"create", path("d")}).exitCode, 0);
    const QString first = writeCsv("1.csv", "id,nazev,pujceno\n10,Osudy dobrého vojáka,Jana Nová\n");
    const QString second = writeCsv("2.csv", "nazev\nRUR\n");
    ASSERT_EQ(runTool({"import", path("d"), first}).exitCode, 0);
    ASSERT_EQ(runTool({"import", path("d"), second}).exitCode, 0);
    const Rows expected = {{"10", "Osudy dobrého vojáka", "Jana Nová"}, {"11", "RUR", kNull}};
    EXPECT_EQ(query(dbIn("d"), "select id,nazev,pujceno from zeplo order by id"), expected);
}

TEST_F(CatalogueTool, BadCsvNamesItsLineAndStoresNothing)
{
    struct Case {
        const char *what;
        std::string csv;
        int line;
        const char *says;
    };
    // Line 2 holds a record that spans two lines, so the physical line differs
    // from the record's number.
    const std::string head = "nazev,autor,rok_vydani,vlastnim\nA,\"Jan\nNeruda\",1900,1\n";
    const std::vector<Case> cases = {
        {"unknown column", "nazev,barva\nA,modrá\n", 1, "barva"},
        {"bad year", head + "B,X,19x5,0\n", 4, "19x5"},
        {"year out of range", head + "B,X,32768,0\n", 4, "32768"},
        {"bad logical", head + "B,X,1999,možná\n", 4, "možná"},
        {"too long text", head + "B," + std::string(20, 'x') + std::string(21, 'z') + ",1999,0\n", 4,
         "41 characters"},
        {"too long Czech text", "nazev,zanr\nB,Odborná literatura ok\n", 2, "21 characters"},
        {"unterminated quote", head + "B,X,1999,0\n\"C,D,2000,1\nE,F,2001,0\n", 5, "closing quote"},
        {"text after a closing quote", head + "\"B\"x,X,1999,0\n", 4, "closing quote"},
        {"missing field", head + "B,X,1999\n", 4, "3 fields"},
        // A UTF-8 file with a stray byte is refused, not read as another encoding.
        {"broken UTF-8", head + "Čapek,Ř\xC8\x41,1999,0\n", 4, "not valid UTF-8"},
        {"neither UTF-8 nor Windows-1250", head + "B,\x98,1999,0\n", 4, "Windows-1250"},
        // Clashes with the stored book; in an empty catalogue the second row clashes with the first.
        {"duplicate id", "id,nazev\n1,Stará kniha\n1,Nová kniha\n", 2, "UNIQUE"},
    };
    ASSERT_EQ(runTool({"create", path("e")}).exitCode, 0);
    query(dbIn("e"), "insert into zeplo (id,nazev,autor) values (1,'Kytice','Erben Karel Jaromír')");
    const Rows before = query(dbIn("e"), kAllColumns);

    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString file = writeCsv("bad.csv", c.csv);
        const ToolRun run = runTool({"import", path("e"), file});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find("line " + std::to_string(c.line) + ":"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(query(dbIn("e"), kAllColumns), before);

        // Into a folder without a catalogue: none is left behind.
        const ToolRun fresh = runTool({"import", path("none"), file});
        EXPECT_EQ(fresh.exitCode, 1);
        EXPECT_FALSE(QFile::exists(dbIn("none")));
    }
    // The good rows after a failure were not stored either, and ids go on from the last one.
    ASSERT_EQ(runTool({"import", path("e"), writeCsv("ok.csv", "nazev\nRUR\n")}).exitCode, 0);
    EXPECT_EQ(scalar(dbIn("e"), "select group_concat(id) from zeplo"), "1,2");
}

// The same five books as a Czech spreadsheet program (LibreOffice, Czech locale)
// saved them: an .ods and an .xlsx workbook, CSV in Windows-1250 with semicolons
// and in UTF-8 with commas. Czech headers, a title "1984" that must stay a text,
// a line break in a cell, empty cells, "ano/ne" and "x"/empty in the logical columns.
TEST_F(CatalogueTool, ImportsWhatACzechSpreadsheetProgramWrote)
{
    const Rows expected = {
        {"1", "Čapek Karel", "Válka s mloky", "Beletrie", "1936", "Satirický román o mlocích.\nDruhý řádek popisu",
         "1", "1", "Jana Nováková"},
        {"2", "Orwell George", "1984", "SCI-FI", "1949", "Antiutopie „Velkého bratra“", "1", "0", kNull},
        {"3", "Němcová Božena", "Babička", "Beletrie", "1855", "Obrazy venkovského života", "0", "1", "Petr Šťastný"},
        {"4", "Hašek Jaroslav", "Osudy dobrého vojáka Švejka", "Válečný", "1921", kNull, "1", "1", kNull},
        {"5", "Žáček Jiří", "Řeřicha a ďáblova úžasná žíně", "Poezie", kNull, "Básně pro děti; ilustrace Ťapka", "0",
         "0", "Úřad „Ůžasná“ knihovna"}};
    const std::string columns = "columns Autor→autor, Název→nazev, Žánr→zanr, Rok vydání→rok_vydani, Popis→popis, "
                                "Vlastním→vlastnim, Přečteno→precteno, Půjčeno→pujceno\n";
    const std::vector<std::pair<const char *, std::string>> files = {
        {"knihy-cs.ods", "read the first sheet of the workbook; " + columns},
        {"knihy-cs.xlsx", "read the first sheet of the workbook; " + columns},
        {"knihy-cs-1250.csv", "read as Windows-1250, separated by semicolons; " + columns},
        {"knihy-cs-utf8.csv", "read as UTF-8, separated by commas; " + columns}};
    for (const auto &[name, decided] : files) {
        SCOPED_TRACE(name);
        const ToolRun run = runTool({"import", path(name), QStringLiteral(ZEPLO_TEST_DATA "/") + name});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(run.err, "zeplo-catalogue: " + decided);
        EXPECT_EQ(query(dbIn(name), kAllColumns), expected);
    }
}

TEST_F(CatalogueTool, EveryExportFormatIsReadBackAsTheSameBooks)
{
    ASSERT_EQ(runTool({"import", path("source"), writeCsv("hard.csv", kHardCsv)}).exitCode, 0);
    ASSERT_EQ(runTool({"import", path("source"), QStringLiteral(ZEPLO_TEST_DATA "/knihy-cs.ods")}).exitCode, 0);
    const Rows source = query(dbIn("source"), kAllColumns);
    ASSERT_EQ(source.size(), 10u);

    for (const QStringList &args : {QStringList{"out.csv"}, QStringList{"--for-spreadsheet", "sheet.csv"},
                                    QStringList{"out.ods"}, QStringList{"out.xlsx"}}) {
        const QString file = args.last();
        SCOPED_TRACE(file.toStdString());
        const ToolRun exported = runTool(QStringList{"export"} + args.mid(0, args.size() - 1)
                                         + QStringList{path("source"), path(file)});
        ASSERT_EQ(exported.exitCode, 0) << exported.err;
        EXPECT_NE(exported.out.find("10 books exported"), std::string::npos) << exported.out;
        const ToolRun back = runTool({"import", path("back-" + file), path(file)});
        ASSERT_EQ(back.exitCode, 0) << back.err;
        EXPECT_EQ(query(dbIn("back-" + file), kAllColumns), source);

        // Never over an existing file, which stays as it was.
        QFile written(path(file));
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        const QByteArray before = written.readAll();
        EXPECT_EQ(runTool({"export", path("source"), path(file)}).exitCode, 1);
        written.seek(0);
        EXPECT_EQ(written.readAll(), before);
    }
    QFile sheet(path("sheet.csv"));
    ASSERT_TRUE(sheet.open(QIODevice::ReadOnly));
    EXPECT_TRUE(sheet.readAll().startsWith("\xEF\xBB\xBFid;autor;nazev;zanr;rok_vydani;popis;vlastnim;"));
}

TEST_F(CatalogueTool, ReadsEncodingsSeparatorsAndSpellingsAsToldOrAsFound)
{
    const auto utf16 = [](const QString &text, bool bigEndian) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (const QChar c : text) {
            const char high = static_cast<char>(c.unicode() >> 8), low = static_cast<char>(c.unicode() & 0xFF);
            bytes += bigEndian ? std::string{high, low} : std::string{low, high};
        }
        return bytes;
    };
    struct Case {
        const char *what;
        std::string file;
        QStringList options;
        Rows rows;         // nazev, autor, rok_vydani, vlastnim, precteno; empty: refused
        std::string says;  // on stderr
    };
    const std::string cp1250 = "N\xE1zev;Autor\r\n\xC8\x61rodějka;Nov\xE1k\r\n"; // "ě" is not Windows-1250
    const std::vector<Case> cases = {
        {"UTF-16LE with tabs, spellings of names, values", utf16("NAZEV\t Rok  Vydání \tPřečteno\tvlast_nim\n"
                                                                  "Krakatit\t1924.0\tA\tANO\nRUR\t\tn\tFalse\n", false),
         {}, {{"Krakatit", kNull, "1924", "1", "1"}, {"RUR", kNull, kNull, "0", "0"}}, "UTF-16LE, separated by tabs"},
        {"UTF-16BE with semicolons", utf16("Název;Autor\nŽítkovské bohyně;Tučková Kateřina\n", true), {},
         {{"Žítkovské bohyně", "Tučková Kateřina", kNull, kNull, kNull}}, "UTF-16BE, separated by semicolons"},
        {"marks in a logical column: empty is false; without marks empty is no value",
         "nazev,precteno,vlastnim\nA,x,\nB,,1\nC,X,\n", {},
         {{"A", kNull, kNull, kNull, "1"}, {"B", kNull, kNull, "1", "0"}, {"C", kNull, kNull, kNull, "1"}}, ""},
        {"a separator found nowhere in the header is a comma", "nazev\nA; B\nC, D\n", {}, {}, "line 3: 2 fields"},
        {"the separator named", "nazev\nA; B\nC, D\n", {"--separator", "tab"},
         {{"A; B", kNull, kNull, kNull, kNull}, {"C, D", kNull, kNull, kNull, kNull}}, "separated by tabs"},
        {"the encoding named", cp1250, {"--encoding", "utf-8"}, {}, "line 1: the file is not valid utf-8 text"},
        {"Windows-1250 without a letter it lacks", "N\xE1zev;Autor\r\n\xC8\x61rod\xECjka;Nov\xE1k\r\n", {},
         {{"Čarodějka", "Novák", kNull, kNull, kNull}}, "read as Windows-1250"},
        {"an unknown column", "Název;Poznámka;Autor\nA;pozn.;B\n", {}, {}, "line 1: unknown column \"Poznámka\""},
        {"an unknown column left out", "Název;Poznámka;Autor\nA;pozn.;B\n", {"--ignore-unknown"},
         {{"A", "B", kNull, kNull, kNull}}, "columns Název→nazev, Autor→autor; ignored: Poznámka"},
        {"a year with a fraction", "nazev,rok_vydani\nA,1936.5\n", {}, {}, "line 2: column rok_vydani: \"1936.5\""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir folder;
        const QString file = writeCsv("case.csv", c.file);
        const ToolRun run = runTool(QStringList{"import"} + c.options + QStringList{folder.path(), file});
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.exitCode, c.rows.empty() ? 1 : 0) << run.err;
        if (!c.rows.empty()) {
            EXPECT_EQ(query(folder.filePath("zeplo.db"),
                            "select nazev,autor,rok_vydani,vlastnim,precteno from zeplo order by id"),
                      c.rows);
        }
    }
}

TEST_F(CatalogueTool, ShowsProgressOnlyOnATerminalAndRefusesDamagedWorkbooks)
{
    ASSERT_EQ(runTool({"demo", path("demo"), "3000"}).exitCode, 0);
    // On a terminal (script gives the tool one) a line that updates itself and is wiped at the end.
    QProcess terminal;
    terminal.start(QStringLiteral("script"), {"-qefc", QStringLiteral("'%1' export '%2' '%3'")
                                                            .arg(QStringLiteral(ZEPLO_TOOL_PATH), path("demo"),
                                                                 path("demo.xlsx")),
                                              "/dev/null"});
    ASSERT_TRUE(terminal.waitForFinished(120000));
    const QByteArray shown = terminal.readAllStandardOutput();
    EXPECT_TRUE(shown.contains("\r\033[Kexport: writing, 3000 of 3000 books (100 %)")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("3000 books exported")) << shown.toStdString();
    // Elsewhere only the result.
    const ToolRun piped = runTool({"import", path("back"), path("demo.xlsx")});
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(piped.err.find('\r'), std::string::npos);

    QFile whole(path("demo.xlsx"));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray xlsx = whole.readAll();
    struct Case {
        const char *name;
        QByteArray content;
        const char *says;
    };
    const std::vector<Case> cases = {
        {"text.xlsx", "Autor;Název\nČapek;RUR\n", "not a workbook that can be read"},
        {"cut.xlsx", xlsx.left(xlsx.size() / 2), "not a workbook that can be read"},
        {"empty.ods", QByteArray(), "not a workbook that can be read"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const ToolRun run = runTool({"import", path("none"), writeCsv(c.name, c.content.toStdString())});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(QFile::exists(dbIn("none")));
    }
}

TEST_F(CatalogueTool, DemoMakesTheRequestedNumberOfPlausibleBooks)
{
    const ToolRun run = runTool({"demo", path("demo"), "400", "5"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const QString db = dbIn("demo");
    EXPECT_EQ(scalar(db, "select count(*) from zeplo"), "400");
    EXPECT_EQ(scalar(db, "select sql from sqlite_master where name='zeplo'"), kExpectedSchema);
    EXPECT_EQ(scalar(db, "pragma journal_mode"), "wal");

    for (const auto &row : query(db, "select distinct zanr from zeplo"))
        EXPECT_EQ(kGenres.count(row[0]), 1u) << row[0];
    EXPECT_EQ(scalar(db, "select count(*) from zeplo where autor is null or nazev is null "
                         "or length(autor) > 40 or length(nazev) > 60"),
              "0");
    EXPECT_EQ(scalar(db, "select count(*) from zeplo where rok_vydani is not null "
                         "and rok_vydani not between 1850 and 2025"),
              "0");
    EXPECT_EQ(scalar(db, "select count(*) from zeplo where vlastnim not in (0,1) or precteno not in (0,1)"),
              "0");
    // A realistic mix: Czech letters in names, some lent, some read, most owned.
    EXPECT_NE(scalar(db, "select count(*) from zeplo where autor glob '*[čřšžěýáíéůú]*'"), "0");
    const int owned = std::stoi(scalar(db, "select count(*) from zeplo where vlastnim = 1"));
    EXPECT_GT(owned, 200);
    EXPECT_LT(owned, 400);
    EXPECT_NE(scalar(db, "select count(*) from zeplo where pujceno is not null"), "0");
    EXPECT_NE(scalar(db, "select count(*) from zeplo where precteno = 1"), "0");
    EXPECT_NE(scalar(db, "select count(*) from zeplo where popis is not null"), "0");

    // The same seed gives the same books, another seed others.
    ASSERT_EQ(runTool({"demo", path("same"), "400", "5"}).exitCode, 0);
    ASSERT_EQ(runTool({"demo", path("other"), "400", "6"}).exitCode, 0);
    EXPECT_EQ(query(dbIn("same"), kAllColumns), query(db, kAllColumns));
    EXPECT_NE(query(dbIn("other"), kAllColumns), query(db, kAllColumns));
}

TEST_F(CatalogueTool, HelpAndBadUsage)
{
    const ToolRun help = runTool({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("import [OPTIONS] CATALOGUE FILE"), std::string::npos);
    EXPECT_NE(help.out.find("copy FROM TO"), std::string::npos);

    EXPECT_EQ(runTool({}).exitCode, 1);
    EXPECT_EQ(runTool({"frobnicate"}).exitCode, 1);
    EXPECT_EQ(runTool({"copy", path("f")}).exitCode, 1);
    EXPECT_EQ(runTool({"demo", path("f"), "many"}).exitCode, 1);
    EXPECT_FALSE(QDir(path("f")).exists());
    EXPECT_EQ(runTool({"import", path("f"), path("missing.csv")}).exitCode, 1);
}

TEST_F(CatalogueToolOnServer, ExportAndImportGiveBackEveryValueThroughAFolderAndAServer)
{
    ASSERT_EQ(runTool({"import", path("source"), writeCsv("hard.csv", kHardCsv)}).exitCode, 0);
    const Rows source = query(dbIn("source"), kAllColumns);
    ASSERT_EQ(source.size(), 5u);
    EXPECT_EQ(source[1], (std::vector<std::string>{"1004", "", "", "", kNull, "", "0", kNull, ""}));
    EXPECT_EQ(source[3][5], "007");
    EXPECT_EQ(source[3][8], "1e3");

    // folder -> CSV -> server -> CSV -> folder
    const QString first = path("first.csv"), second = path("second.csv");
    ASSERT_EQ(runTool({"export", path("source"), first}).exitCode, 0);
    ASSERT_EQ(runTool({"import", uri(), first}).exitCode, 0);
    const ToolRun exported = runTool({"export", uri(), second});
    ASSERT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_EQ(exported.out.find(server->uri()), std::string::npos) << "the password was shown";
    ASSERT_EQ(runTool({"import", path("back"), second}).exitCode, 0);
    EXPECT_EQ(query(dbIn("back"), kAllColumns), source);
    EXPECT_EQ(readFile("first.csv"), readFile("second.csv"));
    EXPECT_TRUE(readFile("first.csv").startsWith("id,autor,nazev,zanr,rok_vydani,popis,vlastnim,precteno,pujceno\r\n"));

    // The server's sequence was moved past the imported ids.
    EXPECT_EQ(server->scalar("select nextval(pg_get_serial_sequence('zeplo', 'id'))"), "1013");

    // An export never replaces a file.
    const ToolRun again = runTool({"export", path("back"), first});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
    EXPECT_EQ(readFile("first.csv"), readFile("second.csv"));
}

TEST_F(CatalogueToolOnServer, CopyFolderToServerToFolderKeepsEveryIdAndValue)
{
    ASSERT_EQ(runTool({"demo", path("demo"), "300", "7"}).exitCode, 0);
    const Rows demo = query(dbIn("demo"), kAllColumns);
    query(dbIn("demo"), "delete from zeplo where id % 7 = 0");
    ASSERT_EQ(runTool({"import", path("demo"), writeCsv("hard.csv", kHardCsv)}).exitCode, 0);
    const Rows source = query(dbIn("demo"), kAllColumns);

    const ToolRun there = runTool({"copy", path("demo"), uri()});
    ASSERT_EQ(there.exitCode, 0) << there.err;
    EXPECT_NE(there.out.find("263 books copied"), std::string::npos) << there.out;
    EXPECT_EQ(there.err, "");
    // The server finds a searched text through the indexes the tool made, on
    // exactly the expression the program's search compares.
    for (const char *column : {"nazev", "autor", "zanr"}) {
        QString search = zeplo::pg::translate(QStringLiteral("select id from zeplo where %1 like \"%xyz%\"")
                                                  .arg(QLatin1String(column))).sql;
        search.replace(QStringLiteral("$1"), QStringLiteral("'%xyz%'"));
        const std::string plan = server->scalar("SET enable_seqscan = off; EXPLAIN " + search.toStdString());
        EXPECT_NE(plan.find("Bitmap Heap Scan"), std::string::npos) << column << ": " << plan;
    }
    ASSERT_EQ(runTool({"copy", uri(), path("back")}).exitCode, 0);
    EXPECT_EQ(query(dbIn("back"), kAllColumns), source);

    // A book added later on either side, as the program adds it (no id), gets the
    // id after the highest copied one.
    EXPECT_EQ(server->scalar("insert into zeplo (nazev) values ('RUR') returning id"), "1013");
    query(dbIn("back"), "insert into zeplo (nazev) values ('RUR')");
    EXPECT_EQ(scalar(dbIn("back"), "select id from zeplo where nazev = 'RUR'"), "1013");
    // Adding to it finds the indexes made and says nothing of them.
    const ToolRun more = runTool({"import", uri(), writeCsv("more.csv", "nazev\nR.U.R.\n")});
    EXPECT_EQ(more.exitCode, 0);
    EXPECT_EQ(more.err, "zeplo-catalogue: read as UTF-8, separated by commas; columns nazev→nazev\n");

    // The server's demo, written through COPY, holds the very books of the folder's.
    ServerDatabase other;
    ASSERT_TRUE(other.ok());
    const QString otherUri = QString::fromStdString(other.uri());
    ASSERT_EQ(runTool({"demo", otherUri, "300", "7"}).exitCode, 0);
    ASSERT_EQ(runTool({"copy", otherUri, path("demo-back")}).exitCode, 0);
    EXPECT_EQ(query(dbIn("demo-back"), kAllColumns), demo);
}

TEST_F(CatalogueToolOnServer, CopyFillsOnlyANewOrEmptyCatalogueAndAFailedCopyLeavesNothing)
{
    ASSERT_EQ(runTool({"demo", path("a"), "20"}).exitCode, 0);
    ASSERT_EQ(runTool({"demo", path("b"), "5", "2"}).exitCode, 0);
    ASSERT_EQ(runTool({"import", uri(), writeCsv("one.csv", "nazev\nRUR\n")}).exitCode, 0);
    const Rows b = query(dbIn("b"), kAllColumns);

    const ToolRun toServer = runTool({"copy", path("a"), uri()});
    EXPECT_EQ(toServer.exitCode, 1);
    EXPECT_NE(toServer.err.find("already holds 1 book;"), std::string::npos) << toServer.err;
    EXPECT_EQ(server->scalar("select count(*) from zeplo"), "1");
    const ToolRun toFolder = runTool({"copy", path("a"), path("b")});
    EXPECT_EQ(toFolder.exitCode, 1);
    EXPECT_NE(toFolder.err.find("already holds 5 books"), std::string::npos) << toFolder.err;
    EXPECT_EQ(query(dbIn("b"), kAllColumns), b);

    // An empty catalogue is filled.
    ASSERT_EQ(runTool({"create", path("empty")}).exitCode, 0);
    ASSERT_EQ(runTool({"copy", path("a"), path("empty")}).exitCode, 0);
    EXPECT_EQ(query(dbIn("empty"), kAllColumns), query(dbIn("a"), kAllColumns));

    // A book the server cannot take (the file does not limit lengths) stops the whole
    // copy, naming the book; the table made for it is gone again.
    query(dbIn("a"), "update zeplo set autor = printf('%.41c', 'x') where id = 17");
    ServerDatabase fresh;
    ASSERT_TRUE(fresh.ok());
    const ToolRun refused = runTool({"copy", path("a"), QString::fromStdString(fresh.uri())});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("the book with id 17"), std::string::npos) << refused.err;
    EXPECT_EQ(fresh.scalar("select to_regclass('zeplo') is null"), "t");

    // The read-only role may export but not write.
    const QString reader = QString::fromStdString(server->readOnlyUri());
    EXPECT_EQ(runTool({"export", reader, path("read.csv")}).exitCode, 0);
    EXPECT_TRUE(readFile("read.csv").contains("RUR"));
    EXPECT_EQ(runTool({"import", reader, path("one.csv")}).exitCode, 1);
    EXPECT_EQ(server->scalar("select count(*) from zeplo"), "1");
}

TEST_F(CatalogueToolOnServer, AWrongPasswordOrHostFailsWithoutShowingThePassword)
{
    const std::string good = server->uri();
    const std::size_t colon = good.find(':', good.find("://") + 3), at = good.find('@');
    ASSERT_TRUE(colon != std::string::npos && at != std::string::npos && colon < at) << "no password in " << good;
    const std::string password = good.substr(colon + 1, at - colon - 1);
    const std::string wrong = "Heslo-42%21";
    struct Case {
        std::string uri;
        const char *says;
    };
    const std::vector<Case> cases = {
        {good.substr(0, colon + 1) + wrong + good.substr(at), "password authentication failed"},
        // Typed unencoded with every character that ends a part of a URI.
        {good.substr(0, colon + 1) + "x?y@z#w/v%u" + good.substr(at), "password authentication failed"},
        {good.substr(0, good.find("host=") + 5) + "/nonexistent-zeplo", "/nonexistent-zeplo"},
        {"postgresql:///zeplo?host=/nonexistent-zeplo&password=" + wrong, "/nonexistent-zeplo"},
    };
    ASSERT_EQ(runTool({"demo", path("a"), "3"}).exitCode, 0);
    for (const Case &c : cases) {
        for (const QStringList &args : {QStringList{"create", QString::fromStdString(c.uri)},
                                        QStringList{"copy", path("a"), QString::fromStdString(c.uri)}}) {
            SCOPED_TRACE(c.uri + " " + args[0].toStdString());
            const ToolRun run = runTool(args);
            EXPECT_EQ(run.exitCode, 1);
            EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
            for (const std::string &secret : {password, wrong, std::string("Heslo-42!"), std::string("x?y"),
                                              std::string("z#w"), std::string("v%u")})
                EXPECT_EQ((run.err + run.out).find(secret), std::string::npos) << run.err;
        }
    }
    EXPECT_EQ(server->scalar("select to_regclass('zeplo') is null"), "t");
}

TEST_F(CatalogueToolOnServer, AServersPasswordIsAskedOnATerminalWithoutEchoAndNeverFromAPipe)
{
    ASSERT_EQ(runTool({"demo", uri(), "7"}).exitCode, 0);
    const QString login = QString::fromStdString(server->loginUri());
    const QByteArray password = QByteArray::fromStdString(server->loginPassword());
    ASSERT_FALSE(password.isEmpty());

    // From a pipe the server's refusal, and no question waiting for an answer.
    const ToolRun piped = runTool({"export", login, path("piped.csv")});
    EXPECT_EQ(piped.exitCode, 1);
    EXPECT_EQ(piped.err.find("Password for"), std::string::npos) << piped.err;
    EXPECT_NE(piped.err.find("no password supplied"), std::string::npos) << piped.err;

    // On a terminal (script gives the tool one) asked as psql asks, and not shown as typed.
    QProcess terminal;
    terminal.start(QStringLiteral("script"), {"-qefc", QStringLiteral("'%1' export '%2' '%3'")
                                                            .arg(QStringLiteral(ZEPLO_TOOL_PATH), login,
                                                                 path("typed.csv")),
                                              "/dev/null"});
    QByteArray shown;
    while (!shown.contains("Password for zeplo_login@") && terminal.waitForReadyRead(30000))
        shown += terminal.readAllStandardOutput();
    ASSERT_TRUE(shown.contains("Password for zeplo_login@")) << shown.toStdString();
    terminal.write(password + "\n");
    ASSERT_TRUE(terminal.waitForFinished(60000));
    shown += terminal.readAllStandardOutput();
    EXPECT_EQ(terminal.exitCode(), 0) << shown.toStdString();
    EXPECT_TRUE(shown.contains("7 books exported")) << shown.toStdString();
    EXPECT_FALSE(shown.contains(password));
}

// A desktop takes the key of a book it adds from the table's sequence before
// it posts: the tool's import takes its ids from there too, so the key stays
// the desktop's. A sequence set back behind the stored keys (by hand, or by a
// copy of another program) costs the desktop nothing: a key another book has
// is given up and the sequence set past them.
TEST_F(CatalogueToolOnServer, AKeyTakenByADesktopIsNeverGivenToAnImportedBookAndOneTakenElsewhereIsReplaced)
{
    ASSERT_EQ(runTool({"demo", uri(), "300"}).exitCode, 0);
    EXPECT_EQ(server->scalar("select max(id) from zeplo"), "300");
    zeplo::Engine::setCatalogue(uri());
    GridList list({zeplo::schema::selectAll(), QString(), QString()});
    zeplo::ResultSet &desktop = list.query;
    desktop.append();   // the key of the new book is taken with the last rows it shows
    const std::string reserved = server->scalar("select pg_sequence_last_value(pg_get_serial_sequence('zeplo', 'id'))");
    desktop.fieldByName(QStringLiteral("nazev"))->setAsText(QStringLiteral("Z pracovny"));
    QFile csv(path("nove.csv"));
    ASSERT_TRUE(csv.open(QIODevice::WriteOnly));
    csv.write("nazev\nPrvní\nDruhá\n");
    csv.close();
    ASSERT_EQ(runTool({"import", uri(), path("nove.csv")}).exitCode, 0);
    desktop.post();
    EXPECT_EQ(server->scalar("select id from zeplo where nazev = 'Z pracovny'"), reserved);
    EXPECT_EQ(server->scalar("select string_agg(id::text, ',' order by id) from zeplo where id > 300"),
              reserved + "," + std::to_string(std::stoi(reserved) + 1) + "," + std::to_string(std::stoi(reserved) + 2));

    server->scalar("select setval(pg_get_serial_sequence('zeplo', 'id'), 5)");
    for (const char *title : {"Další", "Poslední"}) {
        desktop.append();
        desktop.fieldByName(QStringLiteral("nazev"))->setAsText(QString::fromUtf8(title));
        EXPECT_EQ(errorOf([&] { desktop.post(); }), QString());
    }
    EXPECT_EQ(server->scalar("select count(*) from zeplo"), "305");
    zeplo::Engine::setCatalogue(QString());
}

// The triggers by which a server's catalogue tells the programs showing it of
// changed books: the tool's writes make them, upgrade adds them to a catalogue
// made without them and touches nothing else.
TEST_F(CatalogueToolOnServer, UpgradeAddsTheChangeNoticesToACatalogueWithoutThemAndTouchesNoBook)
{
    const std::string triggers = "select count(*) from pg_trigger where tgrelid = 'zeplo'::regclass and not tgisinternal";
    server->scalar(zeplo::schema::createTable(zeplo::schema::Flavour::Server).toStdString());
    // An import into it adds them before its books, so that the programs showing it hear of them.
    ASSERT_EQ(runTool({"import", uri(), writeCsv("one.csv", "nazev\nRUR\n")}).exitCode, 0);
    EXPECT_EQ(server->scalar(triggers), "4");
    for (const zeplo::schema::Trigger &trigger : zeplo::schema::changeNoticeTriggers())
        server->scalar(std::string("drop trigger ") + trigger.name + " on zeplo");
    EXPECT_EQ(runTool({"upgrade", QString::fromStdString(server->readOnlyUri())}).exitCode, 1);
    EXPECT_EQ(server->scalar(triggers), "0");
    const ToolRun run = runTool({"upgrade", uri()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("now tells the programs showing it of changed books"), std::string::npos) << run.out;
    EXPECT_EQ(server->scalar(triggers), "4");
    EXPECT_EQ(server->scalar("select string_agg(nazev, ',') from zeplo"), "RUR");
    EXPECT_NE(runTool({"upgrade", uri()}).out.find("is up to date"), std::string::npos);

    ASSERT_EQ(runTool({"demo", path("a"), "3"}).exitCode, 0);
    EXPECT_NE(runTool({"upgrade", path("a")}).out.find("is up to date"), std::string::npos);
    EXPECT_EQ(runTool({"upgrade", path("none")}).exitCode, 1);
    ServerDatabase fresh;
    ASSERT_TRUE(fresh.ok());
    ASSERT_EQ(runTool({"copy", path("a"), QString::fromStdString(fresh.uri())}).exitCode, 0);
    EXPECT_EQ(fresh.scalar(triggers), "4");
}
