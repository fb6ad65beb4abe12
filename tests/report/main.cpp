#include <QGuiApplication>
#include <gtest/gtest.h>

#include "report/Fonts.h"

// The report layer's tests draw pages: a GUI application without windows,
// with the program's stand-ins for the fonts its pages name.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    zeplo::installFontSubstitutes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
