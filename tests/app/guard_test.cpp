#include "app/guard.h"
#include "app/seams.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

class CommandGuard : public ::testing::Test {
protected:
    void SetUp() override
    {
        tq::prompts::setErrorHandler([this](QWidget*, const QString& title, const QString& text) {
            shown.push_back(text);
            titles.push_back(title);
            order.push_back("message");
        });
        tq::setGuardRecovery([this] { order.push_back("recovery"); });
    }
    void TearDown() override
    {
        tq::prompts::setErrorHandler({});
        tq::setGuardRecovery({});
    }
    std::vector<QString> shown;
    std::vector<QString> titles;
    std::vector<std::string> order;
};

TEST_F(CommandGuard, ACommandThatSucceedsShowsNothing)
{
    int ran = 0;
    tq::runGuarded(nullptr, [&] { ++ran; });
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(order.empty());
}

TEST_F(CommandGuard, AnEscapingErrorRecoversFirstThenShowsItsText)
{
    tq::runGuarded(nullptr, [] { throw std::runtime_error("Cannot open \"/x/y.X\": No such file or directory"); });
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], QStringLiteral("Cannot open \"/x/y.X\": No such file or directory"));
    EXPECT_EQ(titles[0], QStringLiteral("Tarnquill"));
    EXPECT_EQ(order, (std::vector<std::string>{"recovery", "message"}));
}

TEST_F(CommandGuard, UnknownErrorsAndUtf8TextsAreShownToo)
{
    tq::runGuarded(nullptr, [] { throw 42; });
    tq::runGuarded(nullptr, [] { throw std::bad_alloc(); });
    tq::runGuarded(nullptr, [] { throw std::runtime_error("Bestand \xE2\x82\xAC kapot"); });
    tq::runGuarded(nullptr, [] { throw std::runtime_error(""); });
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_FALSE(shown[0].isEmpty());
    EXPECT_TRUE(shown[1].contains(QStringLiteral("memory")));
    EXPECT_EQ(shown[2], QString::fromUtf16(u"Bestand \u20AC kapot"));
    EXPECT_FALSE(shown[3].isEmpty());
}

TEST_F(CommandGuard, AFailingRecoveryOrMessageBoxDoesNotEscape)
{
    tq::setGuardRecovery([] { throw std::logic_error("broken recovery"); });
    tq::prompts::setErrorHandler([](QWidget*, const QString&, const QString&) { throw 1; });
    EXPECT_NO_THROW(tq::runGuarded(nullptr, [] { throw std::runtime_error("x"); }));
}

TEST_F(CommandGuard, WrappedHandlersIgnoreSignalArguments)
{
    int ran = 0;
    auto handler = tq::guarded(nullptr, [&] {
        ++ran;
        throw std::runtime_error("late");
    });
    handler(true, 3);
    EXPECT_EQ(ran, 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], QStringLiteral("late"));
}

} // namespace
