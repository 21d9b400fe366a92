#include "platform/desktop/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdlib>
#include <string>

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("sub/folder/tarnquill.ini")).toStdString();
        tq::settings::setStorageOverride(path);
    }
    void TearDown() override { tq::settings::setStorageOverride({}); }

    QTemporaryDir dir;
    std::string path;
};

TEST_F(Settings, MissingValuesReadAsDefaultsWithoutCreatingStorage)
{
    EXPECT_EQ(tq::settings::readString("OutServername"), "");
    EXPECT_EQ(tq::settings::readString("OutServername", "fallback"), "fallback");
    EXPECT_FALSE(tq::settings::readBool("startMinimized"));
    EXPECT_TRUE(tq::settings::readBool("startMinimized", true));
    EXPECT_EQ(tq::settings::readInt("count", 42), 42);
    EXPECT_FALSE(tq::settings::contains("startMinimized"));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(path)));
}

TEST_F(Settings, FirstWriteCreatesFoldersAndBooleansAreZeroOrOne)
{
    tq::settings::writeBool("startMinimized", true);
    ASSERT_TRUE(QFileInfo::exists(QString::fromStdString(path)));
    EXPECT_EQ(tq::settings::readString("startMinimized"), "1");
    EXPECT_TRUE(tq::settings::readBool("startMinimized"));
    tq::settings::writeBool("startMinimized", false);
    EXPECT_EQ(tq::settings::readString("startMinimized"), "0");
    EXPECT_FALSE(tq::settings::readBool("startMinimized", true));
}

TEST_F(Settings, BooleansReadAsNumbers)
{
    struct Case {
        const char* stored;
        bool fallback;
        bool expected;
    };
    const Case cases[] = {
        {"1", false, true},  {"0", true, false},  {"7", false, true},   {"-1", false, true},
        {"abc", true, true}, {"abc", false, false}, {"", true, true},   {" 2 ", false, true},
        {"1x", false, false},
    };
    for (const Case& c : cases) {
        tq::settings::writeString("flag", c.stored);
        EXPECT_EQ(tq::settings::readBool("flag", c.fallback), c.expected) << "stored \"" << c.stored << "\"";
    }
}

TEST_F(Settings, IntegersFallBackWhenNotANumber)
{
    tq::settings::writeString("n", "123");
    EXPECT_EQ(tq::settings::readInt("n", 5), 123);
    tq::settings::writeString("n", "12a");
    EXPECT_EQ(tq::settings::readInt("n", 5), 5);
    tq::settings::writeString("n", "-40");
    EXPECT_EQ(tq::settings::readInt("n", 5), -40);
}

TEST_F(Settings, EveryByteValueSurvivesStorage)
{
    std::string all;
    for (int c = 0; c < 256; ++c) {
        all.push_back(static_cast<char>(c));
    }
    tq::settings::writeString("InPassword", all);
    tq::settings::writeString("OutName", "  leading and trailing  ");
    tq::settings::writeString("OutSender", "@at;semi=equals\"quote\\back");
    EXPECT_EQ(tq::settings::readString("InPassword"), all);
    EXPECT_EQ(tq::settings::readString("OutName"), "  leading and trailing  ");
    EXPECT_EQ(tq::settings::readString("OutSender"), "@at;semi=equals\"quote\\back");
}

TEST_F(Settings, ValuesPersistInTheFileAndRemoveDeletesOnlyOne)
{
    tq::settings::writeString("InServername", "pop.example.org");
    tq::settings::writeString("InUsername", "anna");
    tq::settings::remove("InUsername");
    tq::settings::remove("NeverWritten");
    EXPECT_FALSE(tq::settings::contains("InUsername"));
    EXPECT_EQ(tq::settings::readString("InServername"), "pop.example.org");

    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    EXPECT_TRUE(content.contains("pop.example.org"));
    EXPECT_FALSE(content.contains("anna"));
}

TEST(SettingsLocation, DefaultsToTheXdgConfigurationFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toLocal8Bit());
    tq::settings::setStorageOverride({});
    EXPECT_EQ(QString::fromStdString(tq::settings::location()), dir.path() + "/Tarnquill/tarnquill.ini");
#ifndef _WIN32
    // The file holds the obscured mail password: the folder is the user's alone
    // and the file readable by the user only, whatever the umask.
    const mode_t oldMask = ::umask(022);
#endif
    tq::settings::writeString("startMinimized", "1");
    EXPECT_TRUE(QFileInfo::exists(dir.path() + "/Tarnquill/tarnquill.ini"));
#ifndef _WIN32
    ::umask(oldMask);
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(dir.path().toStdString()) / "Tarnquill";
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(fs::status(folder / "tarnquill.ini").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
#endif

    qputenv("XDG_CONFIG_HOME", oldXdg);
}

TEST(SettingsLocation, UnwritableStorageIsReported)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A file where the settings folder should be: the folder cannot be created.
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    tq::settings::setStorageOverride(dir.filePath("blocker/tarnquill.ini").toStdString());
    EXPECT_THROW(tq::settings::writeString("startMinimized", "1"), std::runtime_error);
    tq::settings::setStorageOverride({});
}

} // namespace
