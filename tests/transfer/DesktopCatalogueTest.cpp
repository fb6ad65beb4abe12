// The catalogue the desktop opens: chosen in the transfer window ("Změnit…",
// "Otevírat Zeplo na tomto serveru"), kept as the user's setting without a
// password, and the menu's launcher starting Zeplo on it.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "Children.h"
#include "ServerDatabase.h"
#include "books/Books.h"
#include "books/Commands.h"
#include "engine/Error.h"
#include "transfer/ServerDialog.h"
#include "transfer/TransferWindow.h"

using namespace zeplo;
using namespace zeplo::transfer;

namespace {

// A user's home and configuration folder of the test's own; the window's
// settings go there as the tool's and the launcher's do.
class DesktopCatalogue : public testing::Test {
protected:
    void SetUp() override
    {
        tool::setLanguage(tool::Language::Czech);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config());
    }
    void TearDown() override { tool::setLanguage(tool::Language::English); }

    QString config() const { return home.path() + QStringLiteral("/.config"); }
    QProcessEnvironment user() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // No keyring: a program on a server that wants a password waits in the password window.
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent-zeplo-bus"));
        // Nothing of the tests' own: their servers' URIs hold passwords.
        for (const QString &name : env.keys())
            if (name.startsWith(QLatin1String("ZEPLO_")) || name == QLatin1String("PGPASSWORD"))
                env.remove(name);
        return env;
    }
    // What the tool says the desktop opens.
    QString chosen() const
    {
        QProcess tool;
        tool.setProcessEnvironment(user());
        tool.start(QStringLiteral(ZEPLO_TOOL_PATH), {QStringLiteral("chosen")});
        EXPECT_TRUE(tool.waitForFinished(30000));
        return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
    }
    // The menu's launcher started as the desktop starts it: the program it
    // became, looked at through /proc once it runs, then ended.
    struct Started {
        QString folder;
        QStringList arguments;
        QByteArray environment;
    };
    Started launch() const
    {
        QProcess launcher;
        launcher.setProcessEnvironment(user());
        launcher.start(QStringLiteral(ZEPLO_LAUNCHER_PATH), QStringList());
        EXPECT_TRUE(launcher.waitForStarted(10000));
        const QString proc = QStringLiteral("/proc/%1/").arg(launcher.processId());
        for (int i = 0; i < 3000 && QFile::symLinkTarget(proc + QStringLiteral("exe")) != QStringLiteral(ZEPLO_EXE_PATH)
                        && launcher.state() == QProcess::Running;
             ++i)
            QTest::qWait(10);
        EXPECT_EQ(QFile::symLinkTarget(proc + QStringLiteral("exe")), QStringLiteral(ZEPLO_EXE_PATH));
        Started started;
        started.folder = QFile::symLinkTarget(proc + QStringLiteral("cwd"));
        QFile cmdline(proc + QStringLiteral("cmdline")), environ(proc + QStringLiteral("environ"));
        if (cmdline.open(QIODevice::ReadOnly))
            for (const QByteArray &argument : cmdline.readAll().split('\0').mid(1))
                if (!argument.isEmpty())
                    started.arguments << QString::fromUtf8(argument);
        if (environ.open(QIODevice::ReadOnly))
            started.environment = environ.readAll();
        launcher.kill();
        launcher.waitForFinished(10000);
        return started;
    }

    QTemporaryDir home;
};

QString label(const TransferWindow &window) { return child<QLabel>(window, "catalogueLabel")->text(); }

} // namespace

TEST_F(DesktopCatalogue, ChangingTheCatalogueChoosesWhatTheMenusZeploOpens)
{
    QTemporaryDir first, other, fresh, bare;
    tool::createCatalogue(*tool::openCatalogue(first.path().toStdString()));
    tool::makeDemoCatalogue(*tool::openCatalogue(other.path().toStdString()), 4, 1);
    TransferWindow window(first.path());
    EXPECT_EQ(chosen(), QString());
    // None chosen: ~/Zeplo, made at the first start.
    EXPECT_EQ(launch().folder, home.path() + QStringLiteral("/Zeplo"));
    EXPECT_TRUE(QFile::exists(home.path() + QStringLiteral("/Zeplo/zeplo.db")));

    window.chooseFolder(other.path(), false);
    EXPECT_EQ(label(window), QStringLiteral("Katalog: ") + other.filePath(QStringLiteral("zeplo.db")));
    EXPECT_EQ(chosen(), other.path());
    const Started onFolder = launch();
    EXPECT_EQ(onFolder.folder, other.path());
    EXPECT_EQ(onFolder.arguments, QStringList());

    // A new, empty catalogue in a folder; but not where one is, and no catalogue where there is none.
    window.chooseFolder(fresh.path(), true);
    EXPECT_EQ(tool::openCatalogue(fresh.path().toStdString())->count(), 0u);
    EXPECT_EQ(chosen(), fresh.path());
    EXPECT_THROW(window.chooseFolder(other.path(), true), Error);
    EXPECT_THROW(window.chooseFolder(bare.path(), false), Error);
    EXPECT_FALSE(QFile::exists(bare.filePath(QStringLiteral("zeplo.db"))));
    EXPECT_EQ(chosen(), fresh.path());
    EXPECT_EQ(launch().folder, fresh.path());

    // A server whose role logs in with a password: the setting, the label
    // and the program's command line name it without the password.
    ServerDatabase server;
    ASSERT_TRUE(server.ok());
    tool::makeDemoCatalogue(*tool::openCatalogue(server.uri()), 5, 2);
    const QString uri = QString::fromStdString(server.loginUri());
    const QString password = QString::fromStdString(server.loginPassword());
    window.chooseServer(uri.toStdString(), password.toStdString());
    EXPECT_EQ(label(window), QStringLiteral("Katalog: ") + uri);
    EXPECT_EQ(chosen(), uri);
    const Started onServer = launch();
    EXPECT_EQ(onServer.arguments, (QStringList{QStringLiteral("--catalogue"), uri}));
    EXPECT_FALSE(onServer.environment.contains(password.toUtf8()));
    QFile settings(config() + QStringLiteral("/zeplo/zeplo.conf"));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly)) << QDir(config()).entryList().join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(settings.readAll().contains(password.toUtf8()));
    // The window works on the server with the password it was given.
    QSignalSpy ended(&window, &TransferWindow::workEnded);
    window.exportFile(first.filePath(QStringLiteral("ze-serveru.csv")));
    ASSERT_TRUE(ended.wait(60000));
    EXPECT_TRUE(child<QLabel>(window, "statusLabel")->text().startsWith(QStringLiteral("Uloženo 5 knih")))
        << child<QLabel>(window, "statusLabel")->text().toStdString();
}

TEST_F(DesktopCatalogue, AfterACopyToAServerZeploIsOfferedToOpenThere)
{
    QTemporaryDir folder;
    tool::makeDemoCatalogue(*tool::openCatalogue(folder.path().toStdString()), 6, 3);
    ServerDatabase server;
    ASSERT_TRUE(server.ok());
    const std::string uri = server.uri();
    const std::size_t colon = uri.find(':', uri.find("://") + 3), at = uri.find('@');
    const std::string password = uri.substr(colon + 1, at - colon - 1);
    const std::string shown = uri.substr(0, colon) + uri.substr(at);
    TransferWindow window(folder.path());
    window.show();
    auto *offer = child<QPushButton>(window, "openOnServerButton");
    QSignalSpy ended(&window, &TransferWindow::workEnded);
    window.copyWithServer(shown, password, true);
    EXPECT_FALSE(offer->isVisible());
    ASSERT_TRUE(ended.wait(60000));
    ASSERT_TRUE(offer->isVisible()) << child<QLabel>(window, "statusLabel")->text().toStdString();
    QTest::mouseClick(offer, Qt::LeftButton);
    EXPECT_FALSE(offer->isVisible());
    EXPECT_EQ(chosen().toStdString(), shown);
    EXPECT_EQ(label(window).toStdString(), "Katalog: " + shown);
    EXPECT_EQ(launch().arguments, (QStringList{QStringLiteral("--catalogue"), QString::fromStdString(shown)}));
}

TEST(ServerDialogTest, BuildsTheUriFromTheAddressPortAndEncryption)
{
    ServerDialog dialog(nullptr, ServerDialog::Purpose::Choose);
    child<QLineEdit>(dialog, "hostEdit")->setText(QStringLiteral("knihovna.local:6000"));
    child<QLineEdit>(dialog, "portEdit")->setText(QStringLiteral("5433"));
    child<QLineEdit>(dialog, "databaseEdit")->setText(QStringLiteral("knihy"));
    child<QLineEdit>(dialog, "userEdit")->setText(QStringLiteral("anna"));
    auto *encryption = child<QComboBox>(dialog, "encryptionBox");
    auto *choose = child<QPushButton>(dialog, "copyButton");
    EXPECT_EQ(choose->text(), QStringLiteral("Zvolit"));
    EXPECT_FALSE(child<QWidget>(dialog, "toServerButton")->isVisibleTo(&dialog));
    EXPECT_EQ(dialog.uri(), "postgresql://anna@knihovna.local:5433/knihy?sslmode=disable");
    encryption->setCurrentIndex(1);
    EXPECT_EQ(dialog.uri(), "postgresql://anna@knihovna.local:5433/knihy?sslmode=require");
    // Verified needs the authority's file; given one, verification is chosen by itself.
    encryption->setCurrentIndex(2);
    EXPECT_FALSE(choose->isEnabled());
    encryption->setCurrentIndex(0);
    child<QLineEdit>(dialog, "caFileEdit")->setText(QStringLiteral("/etc/zeplo/ca.crt"));
    EXPECT_EQ(encryption->currentIndex(), 2);
    EXPECT_TRUE(choose->isEnabled());
    EXPECT_EQ(dialog.uri(),
              "postgresql://anna@knihovna.local:5433/knihy?sslmode=verify-full&sslrootcert=%2Fetc%2Fzeplo%2Fca.crt");
    // A local server's socket: nothing to encrypt.
    child<QLineEdit>(dialog, "hostEdit")->setText(QStringLiteral("/run/postgresql"));
    EXPECT_FALSE(encryption->isEnabled());
    EXPECT_EQ(dialog.uri(), "postgresql://anna@/knihy?host=%2Frun%2Fpostgresql&port=5433");
}
