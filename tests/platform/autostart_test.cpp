#include "platform/desktop/autostart.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Autostart : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        tq::autostart::setFolderOverride(dir.filePath("autostart").toStdString());
    }
    void TearDown() override { tq::autostart::setFolderOverride({}); }
    QTemporaryDir dir;
};

TEST_F(Autostart, NoEntryGivesAnEmptyPath)
{
    EXPECT_EQ(tq::autostart::entryPath(), "");
}

TEST_F(Autostart, InstalledEntryNamesTheProgramEvenWithAwkwardCharacters)
{
    for (const std::string path : {"/opt/tarnquill/tarnquill", "/home/a b/\"odd\" $dir/tarn`quill\\x"}) {
        tq::autostart::install(path);
        EXPECT_EQ(tq::autostart::entryPath(), path);
    }
    QFile f(dir.filePath("autostart/tarnquill.desktop"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    EXPECT_TRUE(content.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(content.contains("\nType=Application\n"));
}

TEST_F(Autostart, UninstallRemovesTheEntryAndToleratesAMissingOne)
{
    tq::autostart::install("/usr/bin/tarnquill");
    tq::autostart::uninstall();
    EXPECT_EQ(tq::autostart::entryPath(), "");
    EXPECT_FALSE(QFile::exists(dir.filePath("autostart/tarnquill.desktop")));
    EXPECT_NO_THROW(tq::autostart::uninstall());
}

} // namespace
