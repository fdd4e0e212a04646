// One installer per user and home, and quit requests from the system.

#include <gtest/gtest.h>
#include <QSignalSpy>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "app/instance_folder.h"
#include "app/quit_signals.h"
#include "app/single_instance.h"
#include "tests/support/event_loop.h"
#include "tests/support/temporary_home.h"

namespace orbitreel {
namespace {

namespace fs = std::filesystem;

QString qs(const Path& path) { return QString::fromStdString(path.string()); }

TEST(SingleInstanceTest, ASecondInstallerAsksTheFirstToShowItsWindow) {
    testing::TemporaryFolder place;
    testing::TemporaryFolder home;
    const QString key = SingleInstance::keyFor(qs(home.path()));
    EXPECT_NE(key, SingleInstance::keyFor(QStringLiteral("/elsewhere")));

    SingleInstance first(qs(place.path()), key);
    ASSERT_TRUE(first.claim());
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);

    SingleInstance second(qs(place.path()), key);
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(testing::eventually([&] { return reopened.count() == 1; }));

    // Another home is another installer.
    testing::TemporaryFolder otherHome;
    SingleInstance other(qs(place.path()), SingleInstance::keyFor(qs(otherHome.path())));
    EXPECT_TRUE(other.claim());
    other.release();

    // The first leaves nothing behind, and the place is free again.
    first.release();
    EXPECT_TRUE(fs::is_empty(place.path()));
    SingleInstance next(qs(place.path()), key);
    EXPECT_TRUE(next.claim());
}

// Owned by "nobody", as another local user's file would be.
void handToAnotherUser(const Path& path) { ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0) << path; }

TEST(SingleInstanceTest, NothingAnotherUserPlantsStopsTheInstaller) {
    if (geteuid() != 0) GTEST_SKIP() << "planting another user's files needs root";
    testing::TemporaryFolder root;
    const Path home = root.path() / "home";
    const Path runtime = root.path() / "runtime";
    const Path fallback = home / "Library/Caches/OrbitreelInstaller-Instance";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    EXPECT_EQ(instanceFolder(runtime, home), runtime / "OrbitreelInstaller");
    EXPECT_FALSE(fs::exists(fallback));

    // A runtime folder open to others, or not ours, is passed over for one
    // in the home; what holds that one's name is replaced.
    fs::permissions(runtime, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::replace);
    fs::create_directories(fallback);
    testing::writeText(fallback / "planted", "theirs");
    fs::permissions(fallback, fs::perms::all, fs::perm_options::replace);
    handToAnotherUser(fallback);
    EXPECT_EQ(instanceFolder(runtime, home), fallback);
    EXPECT_FALSE(fs::exists(fallback / "planted"));
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    handToAnotherUser(runtime);
    fs::remove_all(fallback);
    const Path elsewhere = root.path() / "elsewhere";
    fs::create_directories(elsewhere);
    fs::create_directory_symlink(elsewhere, fallback);
    EXPECT_EQ(instanceFolder(runtime, home), fallback);
    EXPECT_FALSE(fs::is_symlink(fallback));
    struct stat info {};
    ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, geteuid());
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    // In the place itself: a link at the lock's name to another user's file,
    // and a folder of theirs at the socket's name.
    const QString key = SingleInstance::keyFor(qs(home));
    const Path victim = root.path() / "victim";
    testing::writeText(victim, "untouched");
    handToAnotherUser(victim);
    fs::create_symlink(victim, fallback / (key.toStdString() + ".lock"));
    handToAnotherUser(fallback / (key.toStdString() + ".lock"));
    fs::create_directories(fallback / (key.toStdString() + ".socket/inside"));
    handToAnotherUser(fallback / (key.toStdString() + ".socket"));

    SingleInstance first(qs(fallback), key);
    ASSERT_TRUE(first.claim());
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
    SingleInstance second(qs(fallback), key);
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(testing::eventually([&] { return reopened.count() == 1; }));
    EXPECT_EQ(testing::readText(victim), "untouched");
    ASSERT_EQ(::stat(victim.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
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
