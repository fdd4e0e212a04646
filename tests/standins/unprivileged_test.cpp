// The installer runs as an ordinary user, for whom permission bits count:
// attached content must really be read-only to them, and detach, the copy
// out of the image and the removal of that copy must still work.

#include <gtest/gtest.h>

#include "tests/standins/standins_test_support.h"
#include "tests/support/reachable_copy.h"

namespace orbitreel::standins::test_support {
namespace {

// The stand-ins as the ordinary user can reach them, wherever the build lies.
std::string reachable(const std::string& program) { return orbitreel::test_support::reachableCopy(program).string(); }

TEST(AsAnOrdinaryUser, AttachedContentIsReadOnlyAndItsCopyIsTheUsersOwn) {
    TempDir dir;
    fs::create_directories(dir / "source");
    makeSampleBundle(dir / "source" / "Orbitreel.app");
    ASSERT_EQ(runTool(Codesign, {"--sign", DevelopmentKey, (dir / "source" / "Orbitreel.app").string()}).status, 0);
    const fs::path image = dir / "image.dmg", mount = dir / "mount-1";
    ASSERT_EQ(runTool(Hdiutil, {"create", "-srcfolder", (dir / "source").string(), image.string()}).status, 0);
    fs::create_directory(mount);
    giveToUnprivileged(dir.path());

    ASSERT_EQ(runUnprivileged(reachable(Hdiutil),
                              {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string()})
                  .status,
              0);
    const fs::path app = mount / "Orbitreel.app";
    auto append = [](const fs::path& file) {
        return runUnprivileged("/bin/sh", {"-c", "echo changed >> \"$0\"", file.string()}).status;
    };
    const std::string plist = readFile(app / "Contents" / "Info.plist");
    EXPECT_NE(append(app / "Contents" / "Info.plist"), 0);
    EXPECT_NE(append(app / "Contents" / "added"), 0);
    EXPECT_NE(append(mount / "added"), 0);
    EXPECT_NE(runUnprivileged("/bin/rm", {"-f", (app / "Contents" / "Info.plist").string()}).status, 0);
    EXPECT_EQ(readFile(app / "Contents" / "Info.plist"), plist);
    EXPECT_FALSE(fs::exists(app / "Contents" / "added"));

    const fs::path copy = dir / ".Orbitreel-install-1.app";
    ASSERT_EQ(runUnprivileged(reachable(Ditto), {app.string(), copy.string()}).status, 0);
    EXPECT_EQ(runUnprivileged(reachable(Codesign), {"--verify", "--deep", "--strict", copy.string()}).status, 0);

    EXPECT_EQ(runUnprivileged(reachable(Hdiutil), {"detach", mount.string()}).status, 0);
    EXPECT_TRUE(fs::is_empty(mount));
    EXPECT_EQ(runUnprivileged("/bin/rmdir", {mount.string()}).status, 0);
    EXPECT_EQ(runUnprivileged("/bin/rm", {"-r", copy.string()}).status, 0);
    EXPECT_FALSE(fs::exists(copy));
}

TEST(AsAnOrdinaryUser, UnreadableFoldersAreShownAndTheCleanUpStillGetsIn) {
    TempDir dir;
    const fs::path image = dir / "image.dmg", broken = dir / "broken.dmg", mount = dir / "mount-1";
    // Folders their owner may not read: attach shows them so, and detach,
    // or the clean-up after a failed attach, must still get in.
    const std::vector<ImageEntry> locked = {{.path = "locked", .type = S_IFDIR, .mode = 0000},
                                            {.path = "locked/inner", .type = S_IFDIR, .mode = 0000},
                                            {.path = "locked/inner/file", .content = "x"}};
    writeIsoImage(image, locked);
    auto withFifo = locked;
    withFifo.push_back({.path = "locked/inner/pipe", .type = S_IFIFO});
    writeIsoImage(broken, withFifo);
    fs::create_directory(mount);
    giveToUnprivileged(dir.path());
    const std::vector<std::string> options = {"-readonly", "-nobrowse", "-mountpoint", mount.string()};
    auto attach = [&](const fs::path& which) {
        std::vector<std::string> arguments = {"attach", which.string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return runUnprivileged(reachable(Hdiutil), arguments).status;
    };

    EXPECT_EQ(attach(broken), 1);
    EXPECT_TRUE(fs::is_empty(mount));
    ASSERT_EQ(attach(image), 0);
    EXPECT_EQ(modeOf(mount / "locked"), 0u);
    EXPECT_EQ(runUnprivileged(reachable(Hdiutil), {"detach", mount.string()}).status, 0);
    EXPECT_TRUE(fs::is_empty(mount));
    EXPECT_EQ(runUnprivileged("/bin/rmdir", {mount.string()}).status, 0);
}

}  // namespace
}  // namespace orbitreel::standins::test_support
