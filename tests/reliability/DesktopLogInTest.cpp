// The program's start on a server that wants a password, each start a process
// of its own as a user's would be: the password window typed into, the
// desktop's keyring of a secret service started for the test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "ChildProcess.h"
#include "ChildRoles.h"
#include "Children.h"
#include "ServerDatabase.h"
#include "TempCatalogue.h"
#include "app/Application.h"
#include "books/Commands.h"
#include "widgets/PasswordWindow.h"
#include "widgets/ServerLogIn.h"

using namespace zeplo;

void startAsTheProgram(const QStringList &answers)
{
    qsizetype next = 0;
    bool answered = false;   // the window's current showing
    QTimer typist;
    QObject::connect(&typist, &QTimer::timeout, [&] {
        auto *window = qobject_cast<PasswordWindow *>(QApplication::activeModalWidget());
        if (!window || !window->isVisible() || answered)
            return;
        // Shown again at once after a refusal: answered anew once this showing ends.
        answered = true;
        QObject::connect(window, &QDialog::finished, &typist, [&] { answered = false; }, Qt::SingleShotConnection);
        auto *remember = child<QCheckBox>(*window, "rememberBox");
        const QLabel *note = window->findChild<QLabel *>(QStringLiteral("keyringNote"));
        const QLabel *problem = child<QLabel>(*window, "problemLabel");
        childSays(QStringLiteral("asked %1|%2|%3")
                      .arg(problem->isVisible() ? problem->text() : QString(),
                           !remember->isEnabled() ? QStringLiteral("disabled")
                           : remember->isChecked() ? QStringLiteral("checked")
                                                   : QStringLiteral("unchecked"),
                           note ? note->text() : QString()));
        const QString answer = answers.value(next++, QStringLiteral("cancel"));
        if (answer == QLatin1String("cancel")) {
            child<QPushButton>(*window, "cancelButton")->click();
            return;
        }
        QString password = answer;
        if (password.endsWith(QLatin1String("+remember"))) {
            password.chop(9);
            // On the box itself: the check box spans the window, its text only
            // part of it, so its middle may be empty space.
            if (!remember->isChecked())
                QTest::mouseClick(remember, Qt::LeftButton, {}, QPoint(remember->height() / 2, remember->height() / 2));
            if (!remember->isChecked())
                childSays(QStringLiteral("the box did not take the click"));
        }
        QTest::keyClicks(child<QLineEdit>(*window, "passwordEdit"), password);
        QTest::keyClick(child<QLineEdit>(*window, "passwordEdit"), Qt::Key_Return);
    });
    typist.start(10);
    try {
        logInToCatalogueServer();
        childSays(QStringLiteral("started"));
    } catch (const LogInCancelled &) {
        childSays(QStringLiteral("cancelled"));
    } catch (const std::exception &e) {
        childSays(QStringLiteral("error ") + startupMessage(e).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    }
}

namespace {

// A start of the program in a process of its own, in `home`, with `environment`.
QStringList start(const QString &catalogue, const QStringList &answers, const QString &home,
                  const QStringList &environment)
{
    ChildProcess program(home, QStringLiteral("start"), answers,
                         QStringList{QStringLiteral("ZEPLO_CATALOGUE=") + catalogue, QStringLiteral("HOME=") + home,
                                     QStringLiteral("XDG_CONFIG_HOME=") + home + QStringLiteral("/.config"),
                                     QStringLiteral("XDG_DATA_HOME=") + home + QStringLiteral("/.local/share"),
                                     QStringLiteral("PGPASSFILE=") + home + QStringLiteral("/.pgpass"),
                                     QStringLiteral("PGPASSWORD")}
                             + environment);
    return program.finish(60000);
}

// The files under `folder` whose bytes hold `secret`.
QStringList filesHolding(const QString &folder, const QString &secret)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(secret.toUtf8()))
            found << file.fileName();
    }
    return found;
}

const QString kNoKeyring = QStringLiteral("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent-zeplo-bus");

} // namespace

TEST(DesktopLogIn, ThePasswordIsAskedTypedWrongThenRightAndZrusitOrThreeRefusalsEndTheStart)
{
    ServerDatabase server;
    ASSERT_TRUE(server.ok());
    tool::makeDemoCatalogue(*tool::openCatalogue(server.uri()), 3, 1);
    QTemporaryDir home;
    const QString uri = QString::fromStdString(server.loginUri());
    const QString password = QString::fromStdString(server.loginPassword());
    ASSERT_FALSE(password.isEmpty());
    const QString asked = QStringLiteral("asked |disabled|");

    // Without a secret service the box is disabled and says why.
    QStringList lines = start(uri, {QStringLiteral("spatne-heslo"), password}, home.path(), {kNoKeyring});
    ASSERT_EQ(lines.size(), 3) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines[0].startsWith(asked)) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].contains(QStringLiteral("Heslo nelze zapamatovat"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("asked Heslo nebylo přijato.|disabled|"))) << lines[1].toStdString();
    EXPECT_EQ(lines[2], QStringLiteral("started"));

    lines = start(uri, {QStringLiteral("cancel")}, home.path(), {kNoKeyring});
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("cancelled"));

    lines = start(uri, {QStringLiteral("prvni-pokus"), QStringLiteral("druhy-pokus"), QStringLiteral("treti-pokus")},
                  home.path(), {kNoKeyring});
    ASSERT_EQ(lines.size(), 4) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("asked Heslo nebylo přijato.")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("error Cannot connect to the catalogue server")))
        << lines[3].toStdString();
    EXPECT_TRUE(lines[3].contains(QStringLiteral("password authentication failed"))) << lines[3].toStdString();

    // A password given in the URI, or a catalogue file, never brings the window.
    EXPECT_EQ(start(QString::fromStdString(server.uri()), {}, home.path(), {kNoKeyring}),
              QStringList{QStringLiteral("started")});
    TempCatalogue file;
    EXPECT_EQ(start(file.file(), {}, home.path(), {kNoKeyring}), QStringList{QStringLiteral("started")});
}

// A session bus of its own with GNOME Keyring's secret service on it, its
// login keyring made and unlocked with a throwaway password, all in `home`.
class SecretService {
public:
    explicit SecretService(const QString &home) : home_(home)
    {
        QDir(home).mkpath(QStringLiteral("run"));
        QFile::setPermissions(home + QStringLiteral("/run"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        bus_.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                    QStringLiteral("--address=unix:path=") + home + QStringLiteral("/run/bus")});
        if (!bus_.waitForReadyRead(20000))
            return;
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString &entry : environment())
            env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        // Its keyrings under the test's home, as the program's settings are.
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
        keyring_.setProcessEnvironment(env);
        keyring_.start(QStringLiteral("gnome-keyring-daemon"),
                       {QStringLiteral("--foreground"), QStringLiteral("--unlock"), QStringLiteral("--components=secrets")});
        keyring_.write("throwaway-keyring-password\n");
        keyring_.closeWriteChannel();
        // Running once the secret service answers on the bus.
        for (int i = 0; i < 2000 && !running(); ++i)
            QTest::qWait(10);
    }
    ~SecretService()
    {
        for (QProcess *process : {&keyring_, &bus_}) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    QStringList environment() const
    {
        return {QStringLiteral("DBUS_SESSION_BUS_ADDRESS=") + address_,
                QStringLiteral("XDG_RUNTIME_DIR=") + home_ + QStringLiteral("/run")};
    }
    bool running()
    {
        QProcess lookup;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address_);
        lookup.setProcessEnvironment(env);
        lookup.start(QStringLiteral("dbus-send"), {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                                                   QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/"),
                                                   QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                                                   QStringLiteral("string:org.freedesktop.secrets")});
        lookup.waitForFinished(10000);
        return lookup.readAllStandardOutput().contains("boolean true");
    }

private:
    QString home_;
    QString address_;
    QProcess bus_;
    QProcess keyring_;
};

TEST(DesktopLogIn, ARememberedPasswordComesFromTheKeyringAndOneNoLongerAcceptedIsAskedAgainAndReplaced)
{
    ServerDatabase server;
    ASSERT_TRUE(server.ok());
    tool::makeDemoCatalogue(*tool::openCatalogue(server.uri()), 3, 1);
    // A role of this test's own, as its password changes.
    const std::string role = "zeplo_kr" + server.scalar("select pg_backend_pid()");
    ASSERT_EQ(server.scalar("create role " + role + " login password 'Prvni-heslo-7'; grant pg_read_all_data, "
                            "pg_write_all_data to " + role + "; select 1"),
              "1");
    std::string loginUri = server.uri();
    loginUri.replace(loginUri.find("://") + 3, loginUri.find('@') - loginUri.find("://") - 3, role);
    const QString uri = QString::fromStdString(loginUri);
    QTemporaryDir home;
    SecretService service(home.path());
    ASSERT_TRUE(service.running());

    QStringList lines = start(uri, {QStringLiteral("Prvni-heslo-7+remember")}, home.path(), service.environment());
    ASSERT_EQ(lines, (QStringList{QStringLiteral("asked |unchecked|"), QStringLiteral("started")}));
    // The second start asks nothing.
    EXPECT_EQ(start(uri, {}, home.path(), service.environment()), QStringList{QStringLiteral("started")});

    // Changed on the server: asked again, with the box as the user left it, and replaced.
    server.scalar("alter role " + role + " password 'Druhe-heslo-8'");
    lines = start(uri, {QStringLiteral("Druhe-heslo-8")}, home.path(), service.environment());
    ASSERT_EQ(lines, (QStringList{QStringLiteral("asked Heslo nebylo přijato.|checked|"), QStringLiteral("started")}));
    EXPECT_EQ(start(uri, {}, home.path(), service.environment()), QStringList{QStringLiteral("started")});

    // No file under the home folder holds either password: the keyring keeps it encrypted.
    EXPECT_FALSE(QDir(home.path() + QStringLiteral("/.local/share/keyrings")).isEmpty());
    for (const QString &secret : {QStringLiteral("Prvni-heslo-7"), QStringLiteral("Druhe-heslo-8")})
        EXPECT_EQ(filesHolding(home.path(), secret), QStringList()) << secret.toStdString();
    server.scalar("drop owned by " + role + "; drop role " + role);
}
