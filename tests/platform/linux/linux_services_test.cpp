// Environment and bundle services on Linux.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <set>

#include "platform/linux/linux_bundles.h"
#include "platform/linux/linux_environment.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/text_files.h"

namespace orbitreel {
namespace {

TEST(LinuxEnvironment, UuidsAreFreshUppercaseAndInTheStandardForm) {
    auto environment = makeLinuxEnvironment();
    std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        auto uuid = environment->newUuid();
        EXPECT_TRUE(std::regex_match(uuid, form)) << uuid;
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 200u);
    EXPECT_TRUE(std::regex_match(environment->nowIso8601(), std::regex(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)")));
}

TEST(LinuxBundles, BundleOfAnExecutableFollowsTheLayout) {
    EXPECT_EQ(bundleOfExecutable("/opt/X/OrbitreelInstaller.app/Contents/MacOS/OrbitreelInstaller"),
              "/opt/X/OrbitreelInstaller.app");
    EXPECT_EQ(bundleOfExecutable("/opt/X/bin/OrbitreelInstaller"), "/opt/X/bin");
}

TEST(LinuxBundles, InfoPlistKeepsTopLevelStringsOnly) {
    test_support::TemporaryFolder folder;
    Path app = folder.path() / "Orbitreel.app";
    test_support::writeText(app / "Contents/Info.plist", R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
  <key>CFBundleIdentifier</key><string>app.orbitreel.Orbitreel</string>
  <key>Nested</key><dict><key>CFBundleShortVersionString</key><string>9.9</string></dict>
  <key>CFBundleShortVersionString</key><string>1.4.2 </string>
  <key>LSUIElement</key><true/>
</dict></plist>)");
    auto bundles = makeLinuxBundles();
    auto info = bundles->bundleAt(app);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->identifier, "app.orbitreel.Orbitreel");
    EXPECT_EQ(info->string("CFBundleShortVersionString"), "1.4.2 ") << "kept exactly, nested values ignored";
    EXPECT_FALSE(info->string("LSUIElement")) << "not a string";

    EXPECT_FALSE(bundles->bundleAt(folder.path() / "Missing.app"));
    for (const char* broken : {"<plist><dict><key>x</key>", "<plist><dict></dict></plist",
                               "<plist><dict><key>CFBundleIdentifier</key><string>x</string></dict></plst>"}) {
        test_support::writeText(folder.path() / "Broken.app/Contents/Info.plist", broken);
        EXPECT_FALSE(bundles->bundleAt(folder.path() / "Broken.app")) << broken;
    }
    test_support::writeText(folder.path() / "Empty.app/readme", "no Info.plist here");
    EXPECT_FALSE(bundles->bundleAt(folder.path() / "Empty.app"));

    // Neither a pipe in the file's place (nobody will ever write to it) nor
    // a file far larger than any Info.plist is read.
    std::filesystem::create_directories(folder.path() / "Pipe.app/Contents");
    ASSERT_EQ(::mkfifo((folder.path() / "Pipe.app/Contents/Info.plist").c_str(), 0600), 0);
    EXPECT_FALSE(bundles->bundleAt(folder.path() / "Pipe.app"));
    std::string padded = "<plist><dict><key>CFBundleIdentifier</key><string>app.orbitreel.Orbitreel</string>";
    padded += "<!--" + std::string(2 << 20, ' ') + "--></dict></plist>";
    test_support::writeText(folder.path() / "Large.app/Contents/Info.plist", padded);
    EXPECT_FALSE(bundles->bundleAt(folder.path() / "Large.app"));
}

}  // namespace
}  // namespace orbitreel
