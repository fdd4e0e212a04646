// One installer per person, and quit requests from the system.

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
#include "tests/support/temporary_folder.h"
#include "tests/support/text_files.h"

namespace orbitreel {
namespace {

namespace fs = std::filesystem;

QString qs(const Path& path) { return QString::fromStdString(path.string()); }

TEST(SingleInstanceTest, ASecondInstallerAsksTheFirstToShowItsWindow) {
    test_support::TemporaryFolder place;
    const QString key = SingleInstance::keyFor(::getuid());

    using Claim = SingleInstance::Claim;
    SingleInstance first(qs(place.path()), key);
    ASSERT_EQ(first.claim(), Claim::held);
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);

    SingleInstance second(qs(place.path()), key);
    EXPECT_EQ(second.claim(), Claim::elsewhere);
    EXPECT_TRUE(test_support::eventually([&] { return reopened.count() == 1; }));

    // Another person is another installer.
    SingleInstance other(qs(place.path()), SingleInstance::keyFor(::getuid() + 1));
    EXPECT_EQ(other.claim(), Claim::held);
    other.release();

    // The first leaves nothing behind, and the place is free again.
    first.release();
    EXPECT_TRUE(fs::is_empty(place.path()));
    SingleInstance next(qs(place.path()), key);
    EXPECT_EQ(next.claim(), Claim::held);
    next.release();

    // Without a private place an installer runs, but does not hold the lock.
    SingleInstance unguarded(QString(), key);
    EXPECT_EQ(unguarded.claim(), Claim::unguarded);
}

// Owned by "nobody", as another local user's file would be.
void handToAnotherUser(const Path& path) { ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0) << path; }

TEST(SingleInstanceTest, NothingAnotherUserPlantsStopsTheInstaller) {
    if (geteuid() != 0) GTEST_SKIP() << "planting another user's files needs root";
    test_support::TemporaryFolder root;
    const Path home = root.path() / "home";
    const Path fallback = home / "Library/Caches/OrbitreelInstaller-Instance";

    // What holds the place's name is replaced: another user's folder open to
    // everyone, then a link to a folder elsewhere, which stays as it was.
    fs::create_directories(fallback);
    test_support::writeText(fallback / "planted", "theirs");
    fs::permissions(fallback, fs::perms::all, fs::perm_options::replace);
    handToAnotherUser(fallback);
    EXPECT_EQ(instanceFolder(home), fallback);
    EXPECT_FALSE(fs::exists(fallback / "planted"));
    fs::remove_all(fallback);
    const Path elsewhere = root.path() / "elsewhere";
    fs::create_directories(elsewhere);
    test_support::writeText(elsewhere / "kept", "kept");
    fs::create_directory_symlink(elsewhere, fallback);
    EXPECT_EQ(instanceFolder(home), fallback);
    EXPECT_FALSE(fs::is_symlink(fallback));
    EXPECT_EQ(test_support::readText(elsewhere / "kept"), "kept");
    struct stat info {};
    ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, geteuid());
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    // In the place itself: a link at the lock's name to another user's file,
    // and a folder of theirs at the socket's name.
    const QString key = SingleInstance::keyFor(::getuid());
    const Path victim = root.path() / "victim";
    test_support::writeText(victim, "untouched");
    handToAnotherUser(victim);
    fs::create_symlink(victim, fallback / (key.toStdString() + ".lock"));
    handToAnotherUser(fallback / (key.toStdString() + ".lock"));
    fs::create_directories(fallback / (key.toStdString() + ".socket/inside"));
    handToAnotherUser(fallback / (key.toStdString() + ".socket"));

    SingleInstance first(qs(fallback), key);
    ASSERT_EQ(first.claim(), SingleInstance::Claim::held);
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
    SingleInstance second(qs(fallback), key);
    EXPECT_EQ(second.claim(), SingleInstance::Claim::elsewhere);
    EXPECT_TRUE(test_support::eventually([&] { return reopened.count() == 1; }));
    EXPECT_EQ(test_support::readText(victim), "untouched");
    ASSERT_EQ(::stat(victim.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 65534u);
}

TEST(QuitSignalsTest, TerminationAndInterruptionReachTheEventLoop) {
    int requests = 0;
    {
        QuitSignals handlers([&] { ++requests; });
        ASSERT_TRUE(handlers.isListening());
        std::raise(SIGTERM);
        EXPECT_TRUE(test_support::eventually([&] { return requests == 1; }));
        std::raise(SIGINT);
        EXPECT_TRUE(test_support::eventually([&] { return requests == 2; }));
    }
    struct sigaction current {};
    sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
}

}  // namespace
}  // namespace orbitreel
