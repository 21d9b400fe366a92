// The main() of every widget test program: the program's application object
// (on the offscreen platform unless QT_QPA_PLATFORM names another) exists before
// any widget is made and lives for the whole run.
#include "app/program.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("XDG_CONFIG_HOME", TQ_TEST_HOME "/config");
    qputenv("XDG_DATA_HOME", TQ_TEST_HOME "/share");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    tq::TApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
