// `--verify-release` through the real program, run from copies of its bundle,
// and in the test's process where a neighbour must act at one exact step.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "core/self_test.h"
#include "tests/support/faulty_files.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/test_platform.h"
#include "tests/support/text_files.h"

namespace orbitreel {
namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

class SelfTest : public ::testing::Test {
protected:
    SelfTest() {
        fs::copy(INSTALLER_BUNDLE, bundle(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        fs::create_directories(temporary());
    }
    Path bundle() const { return folder.path() / "Copia del instalador.app"; }
    Path temporary() const { return folder.path() / "tmp"; }
    Path manifest() const { return bundle() / "Contents/Resources/release.json"; }

    // Runs the installer with `arguments`, its temporary folder and home in
    // the test folder, and no display so an interactive start fails fast.
    // With `stopWhenLogged`, the program is an interactive installer that
    // runs until asked to quit: it is sent SIGTERM once its log holds that
    // text (or after 20 s).
    ProgramRun run(const std::vector<std::string>& arguments, const std::string& stopWhenLogged = "") {
        Path out = folder.path() / "out", err = folder.path() / "err";
        pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("TMPDIR", temporary().c_str(), 1);
            ::setenv("HOME", folder.path().c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::freopen(out.c_str(), "w", stdout);
            ::freopen(err.c_str(), "w", stderr);
            std::string exe = (bundle() / "Contents/MacOS/OrbitreelInstaller").string();
            std::vector<char*> argv{exe.data()};
            std::vector<std::string> copies = arguments;
            for (auto& a : copies) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        if (!stopWhenLogged.empty()) {
            Path log = folder.path() / "Library/Logs/OrbitreelInstaller.log";
            for (int i = 0; i < 400 && test_support::readText(log).find(stopWhenLogged) == std::string::npos; ++i)
                ::usleep(50000);
            ::kill(pid, SIGTERM);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : 128, test_support::readText(out),
                test_support::readText(err)};
    }

    test_support::TemporaryFolder folder;
};

TEST_F(SelfTest, PassesWithTheBundledManifestAndLeavesNoTemporaryFile) {
    auto result = run({"--verify-release"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(std::regex_match(
        result.out,
        std::regex(R"(PASS: native installer metadata, pinned HTTPS release, SHA256 streaming \([^\n]*\)\.\n)")))
        << result.out;
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(fs::is_empty(temporary())) << "the digest's input file is removed";

    // The switch counts anywhere among other arguments.
    auto among = run({"--x", "otro", "--verify-release", "--y"});
    EXPECT_EQ(among.status, 0);
    EXPECT_EQ(among.out, result.out);
}

TEST_F(SelfTest, ALinkPlantedAtTheScratchNameIsNeverFollowed) {
    const Path victim = folder.path() / "victim";
    test_support::writeText(victim, "mine");
    test_support::TestPlatform services;
    services.withHome(folder.path(), temporary()).withBundle(bundle());
    // Someone who guessed the name plants a link there just before the write.
    test_support::FaultyFiles files{services.realFiles()};
    files.fault = [&](test_support::FileOperation operation, const Path& path, const Path&) -> std::optional<Error> {
        using Operation = test_support::FileOperation;
        if ((operation == Operation::write || operation == Operation::create) && path.parent_path() == temporary())
            fs::create_symlink(victim, path);
        return std::nullopt;
    };
    const SelfTestOutcome outcome = runSelfTest(services.withFiles(files).build());
    EXPECT_EQ(outcome.exitStatus, 1);
    EXPECT_TRUE(outcome.standardError.starts_with("Installer verification failed: ")) << outcome.standardError;
    EXPECT_EQ(test_support::readText(victim), "mine");
}

TEST_F(SelfTest, ReportsManifestFailuresOnStandardError) {
    test_support::writeText(
        manifest(), R"({"version":"1.4.2","url":"https://orbitreel.app/downloads/Orbitreel-Mac-1.4.2.dmg",)"
                    R"("sha256":"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad","bytes":0})");
    auto zero = run({"--verify-release"});
    EXPECT_EQ(zero.status, 1);
    EXPECT_EQ(zero.out, "");
    EXPECT_EQ(zero.err, "Installer verification failed: message(\"La información del instalador no es válida.\")\n");

    test_support::writeText(manifest(), R"({"version":"1.4.2"})");
    auto undecodable = run({"--verify-release"});
    EXPECT_EQ(undecodable.status, 1);
    EXPECT_TRUE(undecodable.err.starts_with("Installer verification failed: ")) << undecodable.err;
    EXPECT_EQ(undecodable.err.find("message("), std::string::npos) << "a platform error, not ours";

    fs::remove(manifest());
    auto missing = run({"--verify-release"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "Installer verification failed: message(\"Falta la información de esta versión. Descargá otra vez el "
              "instalador.\")\n");
    EXPECT_TRUE(fs::is_empty(temporary()));
}

TEST_F(SelfTest, OnlyTheExactSwitchSelectsIt) {
    // Without the exact switch the interactive installer starts: with no
    // manifest it shows the failure in its window and logs it, and it never
    // prints the self-test's lines.
    fs::remove(manifest());
    for (const char* argument : {"--VERIFY-RELEASE", "--verify-release=1"}) {
        auto result = run({argument}, "error Falta la información");
        EXPECT_EQ(result.out.find("PASS"), std::string::npos) << argument;
        EXPECT_EQ(result.err.find("Installer verification failed"), std::string::npos) << argument;
        std::string log = test_support::readText(folder.path() / "Library/Logs/OrbitreelInstaller.log");
        EXPECT_NE(log.find("error Falta la información de esta versión."), std::string::npos) << argument;
        fs::remove(folder.path() / "Library/Logs/OrbitreelInstaller.log");
    }
}

}  // namespace
}  // namespace orbitreel
