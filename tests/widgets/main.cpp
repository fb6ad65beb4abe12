#include <QApplication>
#include <gtest/gtest.h>

#include "report/Fonts.h"
#include "widgets/WaitingScreen.h"

// The controls' tests: an application with windows, its fonts and its waiting
// screen as the program has them.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    zeplo::installFontSubstitutes();
    zeplo::WaitingScreen::install();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
