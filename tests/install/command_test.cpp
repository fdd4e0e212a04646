// The tool runner against real child processes.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>

#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/texts.h"
#include "install/command.h"
#include "platform/platform.h"
#include "tests/install/install_test_paths.h"
#include "tests/support/test_platform.h"

namespace orbitreel {
namespace {

namespace fs = std::filesystem;

class CommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("command-test-" + std::to_string(getpid()));
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string recorded() {
        std::ifstream in(folder / "record", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    fs::path folder;
    test_support::TestPlatform services;
    Platform platform = services.build();
    const Path probe = test_support::probeToolPath();
};

TEST_F(CommandTest, NonZeroStatusGivesTheToolMessageNamingTheReleaseHost) {
    const std::string expected =
        "No se pudo instalar. Reintentá o usá la descarga completa de orbitreel.app/downloads.";
    EXPECT_EQ(texts::toolFailed(), expected);

    auto one = command(platform, probe, {"record", (folder / "record").string(), "1"});
    ASSERT_FALSE(one);
    EXPECT_EQ(one.error(), Error(InstallError{expected}));

    // A tool killed by a signal has no exit status at all; it still failed.
    auto killed = command(platform, probe, {"signal"});
    ASSERT_FALSE(killed);
    EXPECT_EQ(killed.error(), Error(InstallError{expected}));
}

TEST_F(CommandTest, ArgumentsArriveUnchangedAndOutputIsDiscarded) {
    const std::vector<std::string> odd{"/Users/Ana María/Library/Caches/x y", "", "  two  spaces ",
                                       "\"quoted\" 'and' $HOME *", "-readonly"};
    std::vector<std::string> arguments{"record", (folder / "record").string(), "0"};
    arguments.insert(arguments.end(), odd.begin(), odd.end());

    // The probe writes a megabyte to each stream and still succeeds.
    ASSERT_TRUE(command(platform, probe, arguments));

    std::string expected;
    for (const auto& argument : odd) expected += argument + '\0';
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    char stdinTarget[4096];
    const ssize_t length = readlink("/proc/self/fd/0", stdinTarget, sizeof stdinTarget);
    const std::string ourStdin = length < 0 ? "?" : std::string(stdinTarget, length);
    expected += "\n--\n" + ourStdin + "\n/dev/null\n/dev/null\n" + std::string(cwd) + "\n0 1 2\n";
    EXPECT_EQ(recorded(), expected);
}

TEST_F(CommandTest, ToolGetsOnlyTheStandardStreamsWhateverWeHoldOpen) {
    // A file and a connection opened without close-on-exec, as a library might.
    const int file = ::open("/dev/null", O_RDONLY);
    int connection[2] = {-1, -1};
    ASSERT_GE(file, 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, connection), 0);

    ASSERT_TRUE(command(platform, probe, {"record", (folder / "record").string(), "0"}));
    const std::string text = recorded();
    EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1), "0 1 2\n") << text;

    ::close(file);
    ::close(connection[0]);
    ::close(connection[1]);
}

TEST_F(CommandTest, ToolThatCannotStartGivesTheLaunchError) {
    const Path missing = folder / "no such tool";
    auto result = command(platform, missing, {"verify"});
    ASSERT_FALSE(result);
    const PlatformError* error = result.error().platformError();
    ASSERT_NE(error, nullptr) << result.error().localizedDescription();
    EXPECT_EQ(error->code, ENOENT);
    EXPECT_EQ(error->description, "No se pudo iniciar la herramienta " + missing.string() + ": no existe.");

    // A file without the execute bit, and a folder, cannot be run either.
    const Path plain = folder / "plain";
    std::ofstream(plain) << "not a program";
    for (const Path& path : {plain, Path(folder)}) {
        auto notRunnable = command(platform, path, {});
        ASSERT_FALSE(notRunnable) << path;
        ASSERT_NE(notRunnable.error().platformError(), nullptr) << path;
        EXPECT_EQ(notRunnable.error().platformError()->code, EACCES) << path;
    }
}

}  // namespace
}  // namespace orbitreel
