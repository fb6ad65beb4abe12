#include <QApplication>
#include <gtest/gtest.h>

#include "PrintServer.h"
#include "app/Fonts.h"

using namespace zeplo;

// One application object for the whole run: the widget tests need it and the
// catalogue tests do not mind it.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Printing reaches only the print servers the tests start themselves.
    PrintServer::isolateProcess();
    QApplication app(argc, argv);
    zeplo::installFontSubstitutes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
