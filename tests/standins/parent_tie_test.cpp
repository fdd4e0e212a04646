// Every stand-in dies with the process that started it, in the middle of its
// work: a killed installer leaves no tool writing on behind it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/standins/standins_test_support.h"

namespace orbitreel::standins::test_support {
namespace {

using namespace std::chrono_literals;

// The state letter and parent of a process from /proc; none when it is gone.
struct ProcessState {
    char state = 0;
    pid_t parent = 0;
};
std::optional<ProcessState> stateOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return std::nullopt;
    std::istringstream rest(line.substr(line.rfind(')') + 1));
    ProcessState state;
    rest >> state.state >> state.parent;
    return state;
}

bool gone(pid_t pid) {
    ::waitpid(pid, nullptr, WNOHANG);  // ours to reap when the tests run as a namespace's first process
    auto state = stateOf(pid);
    return !state || state->state == 'Z';
}

// Whether the process has something below `folder` open: it is past its
// start and at work.
bool isReading(pid_t pid, const fs::path& folder) {
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code linkError;
        if (fs::read_symlink(fd.path(), linkError).string().starts_with(folder.string())) return true;
    }
    return false;
}

// Starts `sh`, which starts the tool in the background and becomes a sleep:
// the tool's parent is the shell's process, which the test then kills.
struct ShortLivedParent {
    pid_t shell = -1;
    pid_t tool = -1;

    explicit ShortLivedParent(const std::vector<std::string>& command) {
        int channel[2];
        if (::pipe(channel) != 0) return;
        std::vector<std::string> args{"sh", "-c", "\"$0\" \"$@\" >/dev/null 2>&1 & echo $!; exec sleep 600"};
        args.insert(args.end(), command.begin(), command.end());
        std::vector<char*> argv;
        for (auto& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_adddup2(&actions, channel[1], 1);
        ::posix_spawn_file_actions_addclose(&actions, channel[0]);
        if (::posix_spawn(&shell, "/bin/sh", &actions, nullptr, argv.data(), environ) != 0) shell = -1;
        ::posix_spawn_file_actions_destroy(&actions);
        ::close(channel[1]);
        std::string line;
        char c = 0;
        while (::read(channel[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        ::close(channel[0]);
        if (!line.empty()) tool = std::stoi(line);
    }
    ~ShortLivedParent() {
        if (tool > 0 && !gone(tool)) ::kill(tool, SIGKILL);
        if (shell > 0) {
            ::kill(shell, SIGKILL);
            ::waitpid(shell, nullptr, 0);
        }
    }
};

TEST(ParentTie, EveryStandInDiesWithItsParentMidWork) {
    TempDir dir;
    // Enough to read that no tool is through with it when looked at.
    const fs::path big = dir / "Big.app";
    fs::create_directories(big / "Contents/Resources");
    for (int i = 0; i < 8; ++i) {
        const fs::path file = big / "Contents/Resources" / ("part" + std::to_string(i));
        std::ofstream(file).close();
        fs::resize_file(file, 32u << 20);
    }
    const std::vector<std::vector<std::string>> commands{
        {Ditto, big.string(), (dir / "Copy.app").string()},
        {Hdiutil, "create", "-srcfolder", big.string(), (dir / "big.dmg").string()},
        {Codesign, "--sign", DevelopmentKey, big.string()},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command[0] + " " + command[1]);
        ShortLivedParent parent(command);
        ASSERT_GT(parent.tool, 0);
        for (int i = 0; i < 30000 && !isReading(parent.tool, big) && !gone(parent.tool); ++i)
            std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(isReading(parent.tool, big)) << "the tool ended before it was seen at work";

        // Frozen, the tool can finish nothing by itself: only its tie ends it.
        ASSERT_EQ(::kill(parent.tool, SIGSTOP), 0);
        for (int i = 0; i < 30000 && stateOf(parent.tool) && stateOf(parent.tool)->state != 'T'; ++i)
            std::this_thread::sleep_for(1ms);
        auto frozen = stateOf(parent.tool);
        ASSERT_TRUE(frozen && frozen->state == 'T');
        ASSERT_EQ(frozen->parent, parent.shell);

        ASSERT_EQ(::kill(parent.shell, SIGKILL), 0);
        ::waitpid(parent.shell, nullptr, 0);
        parent.shell = -1;
        for (int i = 0; i < 30000 && !gone(parent.tool); ++i) std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(gone(parent.tool)) << "the tool outlived its parent";
    }
}

// The installer may die between starting a tool and the tool's first
// instructions, before the tie exists; the tool then finds another parent
// than the one the installer named, and does nothing.
TEST(ParentTie, AToolWhoseNamedParentIsGoneDoesNothing) {
    TempDir dir;
    fs::create_directories(dir / "Small.app/Contents");
    writeFile(dir / "Small.app/Contents/Info.plist", "<plist/>");
    const std::string self = "ORBITREEL_TOOL_PARENT=" + std::to_string(::getpid());
    const std::string adopted = "ORBITREEL_TOOL_PARENT=" + std::to_string(::getpid() + 100000);

    EXPECT_NE(runTool(Ditto, {(dir / "Small.app").string(), (dir / "Orphan.app").string()}, {adopted}).status, 0);
    EXPECT_FALSE(fs::exists(dir / "Orphan.app"));
    EXPECT_EQ(runTool(Ditto, {(dir / "Small.app").string(), (dir / "Copy.app").string()}, {self}).status, 0);
    EXPECT_TRUE(fs::exists(dir / "Copy.app/Contents/Info.plist"));
    // Through a script the installer runs, the installer is a grandparent.
    EXPECT_EQ(runTool("/bin/sh",
                      {"-c", "\"$0\" \"$1\" \"$2\"; exit $?", Ditto, (dir / "Small.app").string(),
                       (dir / "Scripted.app").string()},
                      {self})
                  .status,
              0);
    EXPECT_TRUE(fs::exists(dir / "Scripted.app/Contents/Info.plist"));
}

}  // namespace
}  // namespace orbitreel::standins::test_support
