#include <QCoreApplication>
#include <gtest/gtest.h>

// The engine's tests need no windows: a core application, as a program without
// an interface would have.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
