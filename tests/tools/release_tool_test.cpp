// The release tool: a demo image and manifest that the stand-ins accept, the
// variants tests need, the demo application that it packs, and the same
// image again from the same sources.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <regex>
#include <thread>

#include "base/hex.h"
#include "base/sha256.h"
#include "tests/standins/standins_test_support.h"

extern char** environ;

namespace orbitreel {
namespace {

// The stand-ins' test support runs the tools and reads what they leave.
using namespace standins::test_support;

std::string sha256Hex(const fs::path& file) {
    base::OpenSslSha256 hash;
    hash.update(readFile(file));
    return base::toHex(hash.finalize());
}

class ReleaseTool : public ::testing::Test {
protected:
    ToolRun makeRelease(std::vector<std::string> options) {
        std::vector<std::string> arguments = {MakeRelease,    "--helpers", fs::path(Hdiutil).parent_path().string(),
                                              "--app-binary", DemoApp,     "--out",
                                              out.string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return runTool("/bin/bash", arguments);
    }

    // Attaches the image and reports codesign's verdict on the application.
    int attachAndVerify(const fs::path& image) {
        fs::create_directories(mount);
        EXPECT_EQ(runTool(Hdiutil, {"verify", image.string()}).status, 0);
        EXPECT_EQ(runTool(Hdiutil, {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string()})
                      .status,
                  0);
        return runTool(Codesign, {"--verify", "--deep", "--strict", (mount / "Orbitreel.app").string()}).status;
    }

    void detach() { EXPECT_EQ(runTool(Hdiutil, {"detach", mount.string()}).status, 0); }

    TempDir dir;
    fs::path out = dir / "out";
    fs::path mount = dir / "mount-1";
};

void expectManifestDescribes(const fs::path& manifest, const fs::path& image, const std::string& version) {
    auto json = nlohmann::json::parse(readFile(manifest));
    EXPECT_EQ(json.size(), 4u);
    EXPECT_EQ(json.at("version"), version);
    EXPECT_EQ(json.at("url"), "https://orbitreel.app/downloads/Orbitreel-Mac-" + version + ".dmg");
    EXPECT_EQ(json.at("sha256"), sha256Hex(image));
    EXPECT_EQ(json.at("bytes"), fs::file_size(image));
}

TEST_F(ReleaseTool, TheDefaultReleaseIsASignedDemoThatRunsAndLogs) {
    ToolRun made = makeRelease({"--payload-bytes", "4096"});
    ASSERT_EQ(made.status, 0) << made.errors;
    const fs::path image = out / "Orbitreel-Mac-1.4.2.dmg";
    expectManifestDescribes(out / "release.json", image, "1.4.2");
    EXPECT_EQ(listTree(out), (std::vector<std::string>{"Orbitreel-Mac-1.4.2.dmg", "release.json"}));

    ASSERT_EQ(attachAndVerify(image), 0);
    const fs::path app = mount / "Orbitreel.app";
    const std::string plist = readFile(app / "Contents/Info.plist");
    EXPECT_NE(plist.find("<key>CFBundleIdentifier</key>\n\t<string>app.orbitreel.Orbitreel</string>"),
              std::string::npos);
    EXPECT_NE(plist.find("<key>CFBundleShortVersionString</key>\n\t<string>1.4.2</string>"), std::string::npos);
    EXPECT_NE(plist.find("<key>CFBundleExecutable</key>\n\t<string>Orbitreel</string>"), std::string::npos);
    EXPECT_EQ(fs::file_size(app / "Contents/Resources/payload.bin"), 4096u);

    // The demo runs from the bundle until it is told to stop, as a menu-bar
    // application does, and says so in its own log.
    const fs::path home = dir / "home with space";
    const std::string homeVariable = "HOME=" + home.string();
    const std::string executable = (app / "Contents/MacOS/Orbitreel").string();
    char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};
    char* envp[] = {const_cast<char*>(homeVariable.c_str()), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, executable.c_str(), nullptr, nullptr, argv, envp), 0);
    const fs::path log = home / "Library/Logs/Orbitreel.log";
    for (int i = 0; i < 500 && readFile(log).find('\n') == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, WNOHANG), 0) << "the demo stopped by itself";
    ::kill(pid, SIGTERM);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string started = readFile(log).substr(0, readFile(log).find('\n'));
    EXPECT_TRUE(std::regex_match(
        started, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ Orbitreel 1\.4\.2 started pid )" + std::to_string(pid))))
        << started;
    detach();
}

TEST_F(ReleaseTool, VariantsForTheInstallersFailureCases) {
    ASSERT_EQ(
        makeRelease({"--version", "2.0.1", "--bundle-version", "2.0.1 ", "--bundle-id", "app.orbitreel.Other"}).status,
        0);
    const fs::path image = out / "Orbitreel-Mac-2.0.1.dmg";
    expectManifestDescribes(out / "release.json", image, "2.0.1");
    ASSERT_EQ(attachAndVerify(image), 0);
    const std::string plist = readFile(mount / "Orbitreel.app/Contents/Info.plist");
    EXPECT_NE(plist.find("<string>app.orbitreel.Other</string>"), std::string::npos);
    EXPECT_NE(plist.find("<string>2.0.1 </string>"), std::string::npos);
    detach();

    ASSERT_EQ(makeRelease({"--version", "2.0.1", "--no-app"}).status, 0);
    ASSERT_EQ(
        runTool(Hdiutil, {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string()}).status,
        0);
    EXPECT_FALSE(fs::exists(mount / "Orbitreel.app"));
    detach();

    const fs::path otherKey = dir / "other.pem";
    ASSERT_EQ(runTool("/usr/bin/openssl", {"genpkey", "-algorithm", "ed25519", "-out", otherKey.string()}).status, 0);
    const std::vector<std::vector<std::string>> unverifiable = {
        {"--key", otherKey.string()},
        {"--unsigned"},
        {"--tamper"},
        {"--after-signing", "chmod -x Contents/MacOS/Orbitreel"},
    };
    for (const auto& options : unverifiable) {
        SCOPED_TRACE(options.front());
        ToolRun made = makeRelease(options);
        ASSERT_EQ(made.status, 0) << made.errors;
        const fs::path demo = out / "Orbitreel-Mac-1.4.2.dmg";
        expectManifestDescribes(out / "release.json", demo, "1.4.2");
        EXPECT_EQ(attachAndVerify(demo), 1);
        detach();
    }
}

TEST_F(ReleaseTool, RefusesUnusableOptions) {
    for (const auto& options : std::vector<std::vector<std::string>>{{"--version", "../1.0"},
                                                                     {"--version", "1\"0"},
                                                                     {"--payload-bytes", "lots"},
                                                                     {"--frobnicate"},
                                                                     {"--key"}}) {
        ToolRun made = makeRelease(options);
        EXPECT_NE(made.status, 0) << ::testing::PrintToString(options);
        EXPECT_FALSE(made.errors.empty());
    }
    EXPECT_FALSE(fs::exists(out / "release.json"));
}

std::int64_t modified(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mtim.tv_sec;
}

// The time of the last commit of the checkout the release tool lies in.
std::int64_t lastCommitTime() {
    const std::string command = "git -C '" + fs::path(MakeRelease).parent_path().string() + "' log -1 --format=%ct";
    FILE* git = ::popen(command.c_str(), "r");
    if (git == nullptr) return -1;
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, git) != nullptr;
    ::pclose(git);
    return read ? std::stoll(line) : -1;
}

TEST_F(ReleaseTool, TwoBuildsOfTheSameSourcesGiveTheSameImageAndManifest) {
    // Inputs of the test's own, whose times it changes.
    const fs::path binary = dir / "Orbitreel", key = dir / "key.pem", script = dir / "elsewhere" / "make_release.sh";
    fs::copy_file(DemoApp, binary);
    fs::copy_file(DevelopmentKey, key);
    fs::create_directories(script.parent_path());
    fs::copy_file(MakeRelease, script);
    auto build = [&](std::vector<std::string> environment, const fs::path& into,
                     const std::string& tool = MakeRelease) {
        // git looks for a checkout no higher than the test's folder.
        environment.push_back("GIT_CEILING_DIRECTORIES=" + dir.path().string());
        environment.insert(environment.end(),
                           {"/bin/bash", tool, "--helpers", fs::path(Hdiutil).parent_path().string(), "--app-binary",
                            binary.string(), "--key", key.string(), "--out", into.string()});
        return runTool("/usr/bin/env", environment);
    };
    const std::string image = "Orbitreel-Mac-1.4.2.dmg";

    ToolRun made = build({"-u", "SOURCE_DATE_EPOCH", "TZ=UTC"}, dir / "first");
    ASSERT_EQ(made.status, 0) << made.errors;
    // Another second on the clock, new times on the inputs, another zone.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    for (const fs::path& input : {binary, key}) ASSERT_EQ(::utimensat(AT_FDCWD, input.c_str(), nullptr, 0), 0);
    made = build({"-u", "SOURCE_DATE_EPOCH", "TZ=Asia/Kolkata"}, dir / "second");
    ASSERT_EQ(made.status, 0) << made.errors;
    EXPECT_TRUE(readFile(dir / "first" / image) == readFile(dir / "second" / image)) << "the two images differ";
    EXPECT_EQ(readFile(dir / "first/release.json"), readFile(dir / "second/release.json"));

    // Dated by the last commit.
    ASSERT_EQ(attachAndVerify(dir / "first" / image), 0);
    EXPECT_EQ(modified(mount / "Orbitreel.app/Contents/Info.plist"), lastCommitTime());
    detach();

    // Outside a checkout only the caller's date will do, and theirs wins.
    made = build({"-u", "SOURCE_DATE_EPOCH"}, dir / "refused", script.string());
    EXPECT_NE(made.status, 0);
    EXPECT_NE(made.errors.find("SOURCE_DATE_EPOCH"), std::string::npos) << made.errors;
    EXPECT_FALSE(fs::exists(dir / "refused" / image));
    made = build({"SOURCE_DATE_EPOCH=1700000000"}, dir / "dated", script.string());
    ASSERT_EQ(made.status, 0) << made.errors;
    ASSERT_EQ(attachAndVerify(dir / "dated" / image), 0);
    EXPECT_EQ(modified(mount / "Orbitreel.app/Contents/Info.plist"), 1700000000);
    detach();

    made = build({"SOURCE_DATE_EPOCH=tomorrow"}, dir / "malformed");
    EXPECT_NE(made.status, 0);
    EXPECT_NE(made.errors.find("SOURCE_DATE_EPOCH"), std::string::npos) << made.errors;
    EXPECT_FALSE(fs::exists(dir / "malformed/release.json"));
}

TEST(BuildRelease, TheBuildsDemoReleaseMatchesItsManifestAndVerifies) {
    const fs::path release = BuildRelease;
    const fs::path image = release / "Orbitreel-Mac-1.4.2.dmg";
    expectManifestDescribes(release / "release.json", image, "1.4.2");
    EXPECT_EQ(runTool(Hdiutil, {"verify", image.string()}).status, 0);
}

}  // namespace
}  // namespace orbitreel
