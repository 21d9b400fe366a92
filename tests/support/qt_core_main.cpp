// The main() of the test programs of the Qt Core parts without widgets (the
// mail sockets, settings): Qt's sockets and event loops need an application
// object for the whole run.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("XDG_CONFIG_HOME", TQ_TEST_HOME "/config");
    qputenv("XDG_DATA_HOME", TQ_TEST_HOME "/share");
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
