// The installer with the build's own release: the demo image installed and
// launched from the button, and the real program's reopen and quit handling.

#include <QCryptographicHash>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "install/install.h"
#include "tests/controller/app_world.h"
#include "ui/primary_button.h"

extern char** environ;

namespace orbitreel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::AppWorld;
using testing::eventually;
using Launched = testing::AppLaunch;

// Processes whose executable lies inside `bundle`.
std::vector<pid_t> processesIn(const Path& bundle) {
    std::vector<pid_t> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (!std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        std::error_code error;
        const auto executable = fs::read_symlink(entry.path() / "exe", error).string();
        if (!error && executable.rfind(bundle.string() + "/", 0) == 0) found.push_back(std::stoi(name));
    }
    return found;
}

TEST(EndToEndTest, TheCachedDemoImageIsInstalledAndLaunchedFromTheButton) {
    AppWorld world;
    fs::copy_file(Path(ORBITREEL_RELEASE_DIR) / "release.json", world.bundle / "Contents/Resources/release.json");
    const Path helpers = ORBITREEL_HELPERS_DIR;
    world.platform.locations.hdiutil = helpers / "hdiutil";
    world.platform.locations.codesign = helpers / "codesign";
    world.platform.locations.ditto = helpers / "ditto";
    world.workspace.real = &world.services.realWorkspace();
    Launched run(world);
    run.launch();
    ASSERT_TRUE(run.installer->hasSession());
    fs::copy_file(Path(ORBITREEL_RELEASE_DIR) / "Orbitreel-Mac-1.4.2.dmg", world.image());

    run.installer->actionButton()->click();
    ASSERT_TRUE(eventually([&] { return !run.installer->isBusy(); }));

    const Path installed = world.home / "Applications/Orbitreel.app";
    EXPECT_TRUE(run.installer->isInstalled()) << run.installer->statusLabel()->text().toStdString();
    EXPECT_EQ(run.installer->detailsLabel()->text().toStdString(), "~/Applications/Orbitreel.app");
    EXPECT_EQ(run.installer->statusLabel()->text().toStdString(), "Listo. Orbitreel queda en la barra de menú.");
    EXPECT_FALSE(fs::exists(world.image()));
    EXPECT_TRUE(world.sessions.session->tasks.empty());
    EXPECT_TRUE(eventually([&] { return world.runningApplications->countWithBundleIdentifier(TargetBundleId) > 0; }));
    EXPECT_EQ(processesIn(installed).size(), 1u);
    for (pid_t pid : processesIn(installed)) ::kill(pid, SIGTERM);
    testing::settle();
    EXPECT_EQ(run.installer->statusLabel()->text().toStdString(), "Listo. Orbitreel queda en la barra de menú.");
}

// The program itself, in a home of its own, without a display.
class Program {
public:
    explicit Program(const Path& root) {
        environment_ = {"HOME=" + (root / "home").string(), "TMPDIR=" + (root / "tmp").string(),
                        "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + (root / "tmp").string()};
        fs::create_directories(root / "home");
        fs::create_directories(root / "tmp");
        fs::permissions(root / "tmp", fs::perms::owner_all, fs::perm_options::replace);
    }

    pid_t spawn(std::vector<std::string> arguments = {}) const {
        std::vector<char*> env;
        for (const auto& entry : environment_) env.push_back(const_cast<char*>(entry.c_str()));
        env.push_back(nullptr);
        arguments.insert(arguments.begin(), INSTALLER_PROGRAM);
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), env.data()) != 0) return -1;
        return pid;
    }

private:
    std::vector<std::string> environment_;
};

// The exit status of `pid`, waiting a bounded while; -1 if it did not end.
int exitStatus(pid_t pid) {
    for (int i = 0; i < 1500; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(20ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

TEST(EndToEndTest, OpeningItAgainShowsTheRunningWindowAndSignalsEndIt) {
    testing::TemporaryFolder root;
    Program program(root.path());
    const Path log = root.path() / "home/Library/Logs/OrbitreelInstaller.log";
    auto windowLines = [&] {
        const std::string text = testing::readText(log);
        std::size_t count = 0;
        for (std::size_t at = text.find(" window visible="); at != std::string::npos;
             at = text.find(" window visible=", at + 1))
            ++count;
        return count;
    };

    // Another user's folders at the names of the lock and the socket, in
    // the shared temporary folder and in the runtime folder.
    const std::string home = (root.path() / "home").string();
    const std::string hash = QCryptographicHash::hash(QByteArray::fromStdString(home), QCryptographicHash::Sha256)
                                 .toHex()
                                 .left(16)
                                 .toStdString();
    const std::string oldName = "OrbitreelInstaller-" + std::to_string(getuid()) + "-" + hash;
    const Path place = root.path() / "tmp/OrbitreelInstaller";
    for (const Path& planted : {root.path() / "tmp" / (oldName + ".lock"), root.path() / "tmp" / oldName,
                                place / (hash + ".lock"), place / (hash + ".socket"), place}) {
        fs::create_directories(planted / "inside");
        ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0);
    }

    // Qt's own options are no more than any other argument: this one would
    // need a display that is not there.
    const pid_t first = program.spawn({"-platform", "xcb", "-reverse", "-stylesheet", "/nonexistent.qss"});
    ASSERT_GT(first, 0);
    ASSERT_TRUE(eventually([&] { return windowLines() >= 1; })) << testing::readText(log);
    ASSERT_TRUE(eventually([&] { return fs::exists(root.path() / "home/Library/Caches/OrbitreelInstaller/1.4.2"); }));
    const std::size_t before = windowLines();

    const pid_t second = program.spawn();
    ASSERT_GT(second, 0);
    EXPECT_EQ(exitStatus(second), 0);
    EXPECT_TRUE(eventually([&] { return windowLines() > before; }));
    // Only the first wrote its launch line.
    const std::string text = testing::readText(log);
    EXPECT_EQ(text.find(" launch "), text.rfind(" launch "));

    ::kill(first, SIGTERM);
    EXPECT_EQ(exitStatus(first), 0);
    EXPECT_TRUE(fs::is_empty(place));

    // With the first gone, the next one runs on its own again; one killed
    // outright leaves its lock, and the one after takes it over.
    auto launches = [&] {
        const std::string now = testing::readText(log);
        std::size_t count = 0;
        for (auto at = now.find(" launch "); at != std::string::npos; at = now.find(" launch ", at + 1)) ++count;
        return count;
    };
    const pid_t third = program.spawn();
    ASSERT_GT(third, 0);
    EXPECT_TRUE(eventually([&] { return launches() == 2; }));
    ::kill(third, SIGKILL);
    EXPECT_EQ(exitStatus(third), 128 + SIGKILL);
    const pid_t fourth = program.spawn();
    ASSERT_GT(fourth, 0);
    EXPECT_TRUE(eventually([&] { return launches() == 3; }));
    ::kill(fourth, SIGINT);
    EXPECT_EQ(exitStatus(fourth), 0);
}

}  // namespace
}  // namespace orbitreel
