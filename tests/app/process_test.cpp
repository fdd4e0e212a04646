// One installer per user and home, and quit requests from the system.

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <csignal>

#include "app/quit_signals.h"
#include "app/single_instance.h"
#include "tests/app/app_world.h"
#include "tests/support/temporary_home.h"

namespace orbitreel {
namespace {

TEST(SingleInstanceTest, ASecondInstallerAsksTheFirstToShowItsWindow) {
    testing::TemporaryFolder home;
    const QString key = SingleInstance::keyFor(4242, QString::fromStdString(home.path().string()));
    EXPECT_NE(key, SingleInstance::keyFor(4242, QStringLiteral("/elsewhere")));
    EXPECT_NE(key, SingleInstance::keyFor(4243, QString::fromStdString(home.path().string())));

    SingleInstance first(key);
    ASSERT_TRUE(first.claim());
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);

    SingleInstance second(key);
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(testing::eventually([&] { return reopened.count() == 1; }));

    // Another home is another installer.
    testing::TemporaryFolder otherHome;
    SingleInstance other(SingleInstance::keyFor(4242, QString::fromStdString(otherHome.path().string())));
    EXPECT_TRUE(other.claim());
}

TEST(QuitSignalsTest, TerminationAndInterruptionReachTheEventLoop) {
    int requests = 0;
    {
        QuitSignals handlers([&] { ++requests; });
        ASSERT_TRUE(handlers.isListening());
        std::raise(SIGTERM);
        EXPECT_TRUE(testing::eventually([&] { return requests == 1; }));
        std::raise(SIGINT);
        EXPECT_TRUE(testing::eventually([&] { return requests == 2; }));
    }
    struct sigaction current {};
    sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace orbitreel
