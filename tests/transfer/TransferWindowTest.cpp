#include <gtest/gtest.h>

#include <optional>

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "Children.h"
#include "ModalAnswerer.h"
#include "ServerDatabase.h"
#include "TempCatalogue.h"
#include "app/MainWindow.h"
#include "books/Commands.h"
#include "engine/Engine.h"
#include "engine/Field.h"
#include "engine/PgConnection.h"
#include "engine/ResultSet.h"
#include "transfer/ImportDialog.h"
#include "transfer/ServerDialog.h"
#include "transfer/TransferWindow.h"
#include "widgets/QtTranslations.h"

using namespace zeplo;
using namespace zeplo::transfer;

namespace {

using Rows = std::vector<std::vector<std::string>>;

// Every book of a catalogue, each value as text ("-" for no value).
Rows books(tool::CatalogueStore &catalogue)
{
    Rows rows;
    catalogue.readAll([&](const tool::Book &book) {
        auto &row = rows.emplace_back();
        for (std::size_t i = 0; i < tool::kColumnCount; ++i)
            row.push_back(book[i].null ? "-" : tool::holdsText(tool::kColumns[i].kind) ? book[i].text
                                                                                        : std::to_string(book[i].number));
    });
    return rows;
}

// On a Czech desktop, as the program starts there: its messages in Czech and
// Qt's own texts too (the test command runs these tests under
// LANG=cs_CZ.UTF-8; the locale is made Czech here all the same, whatever
// LC_ALL says).
class CzechDesktop {
public:
    CzechDesktop() : before_(QLocale())
    {
        QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));
        tool::setLanguage(tool::Language::Czech);
        loadQtTranslations(QLocale());
    }
    ~CzechDesktop()
    {
        tool::setLanguage(tool::Language::English);
        unloadQtTranslations();
        QLocale::setDefault(before_);
    }

private:
    QLocale before_;
};

// The window on a catalogue of its own folder, on a Czech desktop.
class TransferWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        catalogue = tool::openCatalogue(dir.path().toStdString());
    }

    CzechDesktop czech;

    QString file(const QString &name, const QByteArray &content = {})
    {
        const QString path = dir.filePath(name);
        if (!content.isEmpty()) {
            QFile out(path);
            EXPECT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(content);
        }
        return path;
    }
    TransferWindow &window()
    {
        if (!shown) {
            shown.emplace(dir.filePath(QStringLiteral("zeplo.db")));
            shown->show();
        }
        return *shown;
    }
    // Runs a command of the window and waits until its work has ended.
    void runAndWait(const std::function<void()> &command)
    {
        QSignalSpy ended(&window(), &TransferWindow::workEnded);
        command();
        if (window().working()) {
            ASSERT_TRUE(ended.wait(120000));
        }
    }
    QString status() { return child<QLabel>(window(), "statusLabel")->text(); }

    QTemporaryDir dir;
    std::unique_ptr<tool::CatalogueStore> catalogue;
    std::optional<TransferWindow> shown;
};

// The import dialog as it comes up over the window, given to `act` and then
// accepted with its import button; closed when that cannot start the import.
void inImportDialog(const std::function<void(ImportDialog &)> &act)
{
    QTimer::singleShot(0, [act] {
        auto *dialog = qobject_cast<ImportDialog *>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        act(*dialog);
        child<QPushButton>(*dialog, "importButton")->click();
        if (dialog->isVisible()) {
            ADD_FAILURE() << "not imported: " << child<QLabel>(*dialog, "problemLabel")->text().toStdString();
            dialog->reject();
        }
    });
}

// The preview's column under a heading, -1 when none has it.
int previewColumn(ImportDialog &dialog, const QString &heading)
{
    auto *table = child<QTableWidget>(dialog, "previewTable");
    for (int c = 0; c < table->columnCount(); ++c)
        if (table->horizontalHeaderItem(c)->text() == heading)
            return c;
    return -1;
}

void chooseTarget(ImportDialog &dialog, int fileColumn, int target)
{
    auto *box = child<QComboBox>(dialog, ("target" + std::to_string(fileColumn)).c_str());
    box->setCurrentIndex(box->findData(target));
}

} // namespace

TEST_F(TransferWindowTest, ImportsACzechSpreadsheetFileWithAChangedMapping)
{
    tool::createCatalogue(*catalogue);
    EXPECT_EQ(child<QLabel>(window(), "catalogueLabel")->text(),
              QStringLiteral("Katalog: ") + dir.filePath(QStringLiteral("zeplo.db")));
    QString format, previewed;
    inImportDialog([&](ImportDialog &dialog) {
        // Read as another encoding, the file is refused and cannot be imported; then read as found again.
        auto *encoding = child<QComboBox>(dialog, "encodingBox");
        encoding->setCurrentText(QStringLiteral("UTF-8"));
        EXPECT_TRUE(child<QLabel>(dialog, "problemLabel")->text().contains(QStringLiteral("kódování UTF-8")));
        EXPECT_FALSE(child<QPushButton>(dialog, "importButton")->isEnabled());
        encoding->setCurrentText(QStringLiteral("Windows-1250"));
        EXPECT_TRUE(child<QPushButton>(dialog, "importButton")->isEnabled());
        format = child<QLabel>(dialog, "formatLabel")->text();
        // Půjčeno is not used; Popis goes where Půjčeno went.
        chooseTarget(dialog, 7, -1);
        chooseTarget(dialog, 4, 8);
        auto *table = child<QTableWidget>(dialog, "previewTable");
        EXPECT_EQ(previewColumn(dialog, QStringLiteral("id")), -1) << "the file has no ids";
        previewed = table->item(0, previewColumn(dialog, QStringLiteral("Půjčeno")))->text();
        EXPECT_EQ(table->item(0, previewColumn(dialog, QStringLiteral("Popis"))), nullptr);
        // As the catalogue shows its logical values: yes is "True", an empty cell beside marks "False".
        EXPECT_EQ(table->item(0, previewColumn(dialog, QStringLiteral("Vlastním")))->text(), QStringLiteral("True"));
        EXPECT_EQ(table->item(1, previewColumn(dialog, QStringLiteral("Přečteno")))->text(), QStringLiteral("False"));
        // Book 2 starts on the file's line 4: its first lies over two lines.
        EXPECT_EQ(table->verticalHeaderItem(1)->text() + table->verticalHeaderItem(1)->toolTip(),
                  QStringLiteral("2Kniha 2 (řádek 4 souboru)"));
        EXPECT_EQ(child<QLabel>(dialog, "problemLabel")->text(), QString());
    });
    runAndWait([&] { window().importFile(QStringLiteral(ZEPLO_TEST_DATA "/knihy-cs-1250.csv")); });
    EXPECT_EQ(format, QStringLiteral("Kódování: Windows-1250, oddělovač: středník"));
    EXPECT_EQ(previewed, QStringLiteral("Satirický román o mlocích.\nDruhý řádek popisu"));
    EXPECT_EQ(status(), QStringLiteral("Načteno 5 knih."));
    const Rows rows = books(*catalogue);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "Čapek Karel", "Válka s mloky", "Beletrie", "1936", "-", "1",
                                                 "1", "Satirický román o mlocích.\nDruhý řádek popisu"}));
    EXPECT_EQ(rows[3][8], "-");
    EXPECT_EQ(rows[1][2], "1984");
}

TEST_F(TransferWindowTest, EveryMappingRowIsReadableOnTheAccessibilityBusAndTheDialogFitsTheScreen)
{
    ImportDialog dialog(file(QStringLiteral("sloupce.csv"), "id;Název;Poznámka k vydání;Rok vydání\n7;RUR;;1920\n").toStdString());
    dialog.show();
    // Every drop-down of the mapping is on the bus, labelled by its file column, its choice as its text.
    QStringList read;
    std::function<void(QAccessibleInterface *)> walk = [&](QAccessibleInterface *node) {
        if (node->role() == QAccessible::ComboBox && node->object()->objectName().startsWith(QLatin1String("target"))) {
            const auto labels = node->relations(QAccessible::Label);
            read << (labels.isEmpty() ? QStringLiteral("?") : labels.first().first->text(QAccessible::Name))
                        + QStringLiteral(": ") + node->text(QAccessible::Value);
        }
        for (int i = 0; i < node->childCount(); ++i)
            walk(node->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(&dialog));
    EXPECT_EQ(read, QStringList({"id: id", "Název: Název", "Poznámka k vydání: nepoužít", "Rok vydání: Rok vydání"}));
    // The file has ids: the preview shows them.
    auto *table = QAccessible::queryAccessibleInterface(child<QTableWidget>(dialog, "previewTable"))->tableInterface();
    ASSERT_TRUE(table);
    QStringList headings;
    for (int c = 0; c < table->columnCount(); ++c)
        headings << table->columnDescription(c);
    EXPECT_EQ(headings, QStringList({"id", "Autor", "Název", "Žánr", "Rok vydání", "Popis", "Vlastním", "Přečteno", "Půjčeno"}));
    // On a screen of 1024 × 768, the mapping without a sideways scroll bar.
    EXPECT_LE(dialog.frameGeometry().width(), 1024);
    EXPECT_LE(dialog.frameGeometry().height(), 768);
    auto *area = child<QScrollArea>(dialog, "mappingArea");
    EXPECT_LE(area->widget()->width(), area->viewport()->width());
    EXPECT_FALSE(area->horizontalScrollBar()->isVisible());

    // A file of 100,000 columns lists the first 200 and says how many more there are.
    QByteArray wide = "Název";
    for (int i = 0; i < 100000; ++i)
        wide += ";Sloupec " + QByteArray::number(i);
    ImportDialog many(file(QStringLiteral("siroka.csv"), wide + "\nRUR" + QByteArray(100000, ';') + "\n").toStdString());
    EXPECT_EQ(many.findChildren<QComboBox *>(QRegularExpression(QStringLiteral("^target"))).size(), 200);
    EXPECT_EQ(child<QLabel>(many, "unlistedLabel")->text(),
              QStringLiteral("Soubor má ještě dalších 99\u00A0801 sloupců; načtou se podle svých názvů, neznámé se nepoužijí."));
    EXPECT_TRUE(child<QPushButton>(many, "importButton")->isEnabled());
}

TEST_F(TransferWindowTest, CancelInTheMiddleOfALargeImportLeavesTheCatalogueAsItWas)
{
    QByteArray csv = "Název;Autor;Rok vydání\n";
    for (int i = 0; i < 6000; ++i)
        csv += "Kniha " + QByteArray::number(i) + ";Autor " + QByteArray::number(i) + ";1990\n";
    tool::makeDemoCatalogue(*catalogue, 7, 1);
    const Rows before = books(*catalogue);

    // Cancelled as soon as the books go into the catalogue: the work waits for
    // the click before it goes on.
    QObject context;
    bool clicked = false;
    QObject::connect(&window().work(), &BackgroundWork::progressed, &context,
                     [&](int stage, qulonglong done, qulonglong total) {
                         if (!clicked && stage == int(tool::Stage::Storing) && done > 0 && done < total) {
                             child<QPushButton>(window(), "cancelButton")->click();
                             clicked = true;
                         }
                     },
                     Qt::BlockingQueuedConnection);
    inImportDialog([](ImportDialog &) {});
    runAndWait([&] { window().importFile(file(QStringLiteral("velka.csv"), csv)); });
    EXPECT_TRUE(clicked);
    EXPECT_EQ(status(), QStringLiteral("Zrušeno. Katalog i soubory zůstaly, jak byly."));
    EXPECT_EQ(books(*catalogue), before);
}

// A statement the server runs long (the index over a million books, the
// vacuum) hears of a close too: the server stops it, the window never waits
// frozen for it, and goes once the work has rolled back.
TEST_F(TransferWindowTest, ClosingWhileTheServerRunsALongStatementStopsItWithoutFreezingTheWindow)
{
    ServerDatabase server;
    const QString uri = QString::fromStdString(server.uri());
    window().work().start([uri](tool::Progress &) {
        PgConnection session(uri, PgSessionSettings{"zeplo-catalogue", false, QString()});
        session.run(PgCommand(QStringLiteral("select pg_sleep(600)")));
        return QString();
    });
    const auto sleeping = [&] {
        return server.scalar("select count(*) from pg_stat_activity where query = 'select pg_sleep(600)'");
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return sleeping() == "1"; }, 20000));
    QSignalSpy ended(&window(), &TransferWindow::workEnded);
    window().close();
    EXPECT_TRUE(window().isVisible());   // not gone before the work has ended, and not blocked either
    ASSERT_TRUE(ended.wait(20000));
    EXPECT_FALSE(window().isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return sleeping() == "0"; }, 20000));
}

TEST_F(TransferWindowTest, ARefusedBookStopsTheImportNamedInCzechAndNothingIsStored)
{
    tool::makeDemoCatalogue(*catalogue, 3, 1);
    const Rows before = books(*catalogue);
    // Shown in the preview: the import cannot start until the file or the mapping is mended.
    QTimer::singleShot(0, [] {
        auto *dialog = qobject_cast<ImportDialog *>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        EXPECT_EQ(child<QLabel>(*dialog, "problemLabel")->text(),
                  QStringLiteral("Kniha 2 (řádek 4 souboru): sloupec Rok vydání: „19x5“ není rok (celé číslo od -32768 do 32767)."));
        EXPECT_FALSE(child<QPushButton>(*dialog, "importButton")->isEnabled());
        chooseTarget(*dialog, 1, -1);
        EXPECT_EQ(child<QLabel>(*dialog, "problemLabel")->text(), QString());
        EXPECT_TRUE(child<QPushButton>(*dialog, "importButton")->isEnabled());
        dialog->reject();
    });
    window().importFile(file(QStringLiteral("spatna.csv"), "Název;Rok vydání\nA;1999\n\nB;19x5\n"));

    // Past the preview: the import names it with its line, in the window's own box.
    QByteArray csv = "Název;Rok vydání\n";
    for (int i = 0; i < 30; ++i)
        csv += "Kniha " + QByteArray::number(i) + (i == 24 ? ";19x5\n" : ";1999\n");
    ModalAnswerer answerer;
    inImportDialog([](ImportDialog &) {});
    runAndWait([&] { window().importFile(file(QStringLiteral("dlouha.csv"), csv)); });
    ASSERT_EQ(answerer.count(), 1);
    EXPECT_EQ(answerer.titles[0], QStringLiteral("Zeplo – převod knih"));
    EXPECT_TRUE(answerer.texts[0].contains(QStringLiteral("dlouha.csv, řádek 26: sloupec Rok vydání: „19x5“ není rok")))
        << answerer.texts[0].toStdString();
    EXPECT_EQ(books(*catalogue), before);
}

TEST_F(TransferWindowTest, ExportsEachFormatReadBackEqualAndAsksBeforeReplacing)
{
    tool::makeDemoCatalogue(*catalogue, 300, 3);
    const Rows source = books(*catalogue);
    for (const char *name : {"knihy.csv", "knihy.ods", "knihy.xlsx"}) {
        SCOPED_TRACE(name);
        const QString path = file(QString::fromLatin1(name));
        runAndWait([&] { window().exportFile(path); });
        EXPECT_TRUE(status().startsWith(QStringLiteral("Uloženo 300 knih do souboru"))) << status().toStdString();
        tool::BookFile written(path.toStdString(), {});
        const auto back = tool::openCatalogue(dir.filePath(QStringLiteral("zpet-") + QLatin1String(name)).toStdString());
        tool::importBooks(*back, written);
        EXPECT_EQ(books(*back), source);
    }
    EXPECT_TRUE(QFile(file(QStringLiteral("knihy.csv"))).open(QIODevice::ReadOnly));

    // An existing file is replaced only after "Ano".
    const QString existing = file(QStringLiteral("stary.ods"), "něco jiného");
    {
        ModalAnswerer answerer({QStringLiteral("&Ne")});
        runAndWait([&] { window().exportFile(existing); });
        EXPECT_EQ(answerer.count(), 1);
    }
    QFile old(existing);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("něco jiného"));
    {
        ModalAnswerer answerer({QStringLiteral("&Ano")});
        runAndWait([&] { window().exportFile(existing); });
    }
    tool::BookFile replaced(existing.toStdString(), {});
    EXPECT_EQ(replaced.check(tool::noProgress()), 300u);
    EXPECT_EQ(QDir(dir.path()).entryList(QStringList{QStringLiteral(".*zeplo-*")}, QDir::Hidden | QDir::Files),
              QStringList());
}

TEST_F(TransferWindowTest, CopiesToAServerAndBackWithThePasswordOnlyInTheConnection)
{
    ServerDatabase server;
    ASSERT_TRUE(server.ok());
    // postgresql://USER:PASSWORD@/DATABASE?host=FOLDER&port=PORT
    const QString uri = QString::fromStdString(server.uri());
    const QString user = uri.section(QLatin1Char('/'), 2).section(QLatin1Char(':'), 0, 0);
    const QString password = uri.section(QLatin1Char(':'), 2).section(QLatin1Char('@'), 0, 0);
    const QString database = uri.section(QLatin1Char('/'), 3).section(QLatin1Char('?'), 0, 0);
    const QString folder = uri.section(QStringLiteral("host="), 1).section(QLatin1Char('&'), 0, 0);
    const QString port = uri.section(QStringLiteral("port="), 1).section(QLatin1Char('&'), 0, 0);
    const QString host = folder + QLatin1Char(':') + port;
    tool::makeDemoCatalogue(*catalogue, 120, 4);
    const Rows source = books(*catalogue);

    QTimer::singleShot(0, [&] {
        auto *dialog = qobject_cast<ServerDialog *>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        child<QLineEdit>(*dialog, "hostEdit")->setText(host);
        child<QLineEdit>(*dialog, "databaseEdit")->setText(database);
        child<QLineEdit>(*dialog, "userEdit")->setText(user);
        child<QLineEdit>(*dialog, "passwordEdit")->setText(password);
        child<QPushButton>(*dialog, "copyButton")->click();
    });
    runAndWait([&] { child<QPushButton>(window(), "serverButton")->click(); });
    const QString shown = QStringLiteral("postgresql://%1@/%2?host=%3&port=%4")
                              .arg(user, database, QString(QUrl::toPercentEncoding(folder)), port);
    EXPECT_TRUE(status().startsWith(QStringLiteral("Na server přeneseno 120 knih.")));
    EXPECT_TRUE(status().contains(QStringLiteral("zeplo --catalogue '%1'").arg(shown))) << status().toStdString();
    EXPECT_FALSE(status().contains(password));
    EXPECT_EQ(server.scalar("select count(*) from zeplo"), "120");

    // And back, into an empty catalogue of another folder.
    QTemporaryDir other;
    tool::createCatalogue(*tool::openCatalogue(other.path().toStdString()));
    TransferWindow back(other.filePath(QStringLiteral("zeplo.db")));
    QSignalSpy ended(&back, &TransferWindow::workEnded);
    back.copyWithServer(shown.toStdString(), password.toStdString(), false);
    ASSERT_TRUE(ended.wait(120000));
    EXPECT_EQ(books(*tool::openCatalogue(other.path().toStdString())), source);
}

TEST_F(TransferWindowTest, AServerThatCannotBeHadIsOneCzechSentenceWithTheClientLibrarysWordsBelow)
{
    ServerDatabase server;
    ASSERT_TRUE(server.ok());
    tool::makeDemoCatalogue(*catalogue, 2, 1);
    const std::string uri = server.uri(); // postgresql://USER:PASSWORD@/DATABASE?host=FOLDER&port=PORT
    const std::size_t colon = uri.find(':', 13), at = uri.find('@'), query = uri.find('?');
    const std::string user = uri.substr(13, colon - 13), password = uri.substr(colon + 1, at - colon - 1);
    const std::string database = uri.substr(at + 2, query - at - 2), base = "postgresql://" + user + "@";
    server.scalar("REVOKE CONNECT ON DATABASE " + database + " FROM PUBLIC");
    const std::vector<std::tuple<std::string, std::string, QString>> cases = { // uri, password, sentence
        {base + "/" + database + uri.substr(query), "Heslo-42", "nepřijal heslo, zkontrolujte uživatele a heslo."},
        // A wrong password typed into the address itself, unencoded, with every character that ends a part of it.
        {"postgresql://" + user + ":x?y@z#w/v%u@/" + database + uri.substr(query), {},
         "nepřijal heslo, zkontrolujte uživatele a heslo."},
        {base + "/nosuch" + uri.substr(query), password, "Databáze, kterou uvádí adresa " + QString::fromStdString(base) + "/nosuch"},
        {base + "/" + database + "?host=/nonexistent-zeplo", password, "nepřijímá spojení, buď neběží, nebo k němu nevede cesta."},
        {base + "nosuchhost.invalid/" + database, password, "nelze v síti najít, zkontrolujte jeho adresu."},
        {server.readOnlyUri(), {}, "Uživatel nemá právo připojit se k databázi postgresql://zeplo_reader@/"}};
    for (const auto &[where, typed, says] : cases) {
        SCOPED_TRACE(where);
        ModalAnswerer answerer;
        runAndWait([&, &where = where, &typed = typed] { window().copyWithServer(where, typed, true); });
        ASSERT_EQ(answerer.count(), 1);
        EXPECT_EQ(answerer.titles[0], QStringLiteral("Zeplo – převod knih"));
        const QStringList lines = answerer.texts[0].split(QLatin1Char('\n'));
        EXPECT_TRUE(lines[0].contains(says)) << answerer.texts[0].toStdString();
        EXPECT_GE(lines.size(), 2) << "the client library's words below";
        EXPECT_FALSE(answerer.texts[0].contains(QStringLiteral("?."))) << answerer.texts[0].toStdString();
        EXPECT_FALSE(answerer.texts[0].contains(QString::fromStdString(password)));
        for (const char *piece : {"x?y", "z#w", "v%u"})
            EXPECT_FALSE(answerer.texts[0].contains(QLatin1String(piece)) || status().contains(QLatin1String(piece)))
                << answerer.texts[0].toStdString();
    }
}

// With Zeplo open on the same catalogue, an import goes in and the main
// window's next list command shows the books; a catalogue that another
// program keeps locked gives the program's "locked" message and loses nothing.
class TransferBesideZeplo : public testing::TestWithParam<CatalogueEngine> {
protected:
    void TearDown() override { Engine::setLockWaitMs(5000); }
    CzechDesktop czech;
};

INSTANTIATE_TEST_SUITE_P(, TransferBesideZeplo, kEachEngine, engineName);

TEST_P(TransferBesideZeplo, ImportsWhileZeploIsOpenAndSaysWhenTheCatalogueIsLocked)
{
    TempCatalogue catalogue(GetParam());
    catalogue.addBooks(3);
    MainWindow form;
    form.skipSplash();
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("nove.csv"));
    {
        QFile out(csv);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("Název;Autor\nPřivezená kniha;Nová Jana\nDruhá kniha;Nová Jana\n");
    }
    TransferWindow transfer(catalogue.engine() == CatalogueEngine::Server ? catalogue.uri() : catalogue.file());
    const auto import = [&] {
        QSignalSpy ended(&transfer, &TransferWindow::workEnded);
        inImportDialog([](ImportDialog &) {});
        transfer.importFile(csv);
        ASSERT_TRUE(ended.wait(120000));
    };
    import();
    EXPECT_EQ(child<QLabel>(transfer, "statusLabel")->text(), QStringLiteral("Načteny 2 knihy."));
    child<QLineEdit>(form, "Edit1")->setText(QStringLiteral("Přivezená"));
    form.searchByTitle();
    EXPECT_EQ(child<ResultSet>(form, "Query1")->fieldByName(QStringLiteral("nazev"))->value().toString(),
              QStringLiteral("Přivezená kniha"));

    Engine::setLockWaitMs(300);
    catalogue.lockWriters();
    ModalAnswerer answerer;
    import();
    catalogue.unlock();
    ASSERT_EQ(answerer.count(), 1);
    EXPECT_EQ(answerer.titles[0], QStringLiteral("Zeplo – převod knih"));
    EXPECT_EQ(answerer.texts[0], QStringLiteral("Katalog má zamčený jiný program a ani po 0,3 s ho neuvolnil. "
                                                "Zkuste to znovu, až ten program skončí."));
    EXPECT_EQ(catalogue.count(), 5);
}
