#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "PrintServer.h"
#include "report/Fonts.h"
#include "widgets/WaitingScreen.h"

using namespace zeplo;

// One application object for the whole run: the widget tests need it and the
// catalogue tests do not mind it.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Printing reaches only the print servers the tests start themselves, in
    // a folder of the system's temporary one, which their filters can reach.
    PrintServer::isolateProcess();
    // A temporary folder of this process's own: tests that list the temporary
    // files run side by side with other test processes.
    QTemporaryDir ownTemp(QDir::tempPath() + QStringLiteral("/zeplo_tests-XXXXXX"));
    if (ownTemp.isValid())
        qputenv("TMPDIR", QFile::encodeName(ownTemp.path()));
    QApplication app(argc, argv);
    zeplo::installFontSubstitutes();
    // As the program does: the screen kept alive while a command waits for the server.
    zeplo::WaitingScreen::install();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
