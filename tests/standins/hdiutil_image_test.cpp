// hdiutil on genuine images: create, verify, attach and detach; damaged
// images; command lines it must refuse.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "standins/hdiutil/attach_marker.h"
#include "standins/hdiutil/image_seal.h"
#include "tests/standins/standins_test_support.h"

namespace orbitreel::standins::test_support {
namespace {

class HdiutilImage : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir / "source");
        makeSampleBundle(dir / "source" / "Orbitreel.app");
        ASSERT_EQ(runTool(Hdiutil, {"create", "-srcfolder", (dir / "source").string(), image.string()}).status, 0);
        fs::create_directory(mount);
    }

    ToolRun attach(const fs::path& which) {
        return runTool(Hdiutil, {"attach", which.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string()});
    }

    TempDir dir;
    fs::path image = dir / "image.dmg";
    fs::path mount = dir / "mount-1";
};

TEST_F(HdiutilImage, AttachShowsTheFolderReadOnlyAndDetachLeavesTheMountPointEmpty) {
    ASSERT_EQ(runTool(Hdiutil, {"verify", image.string()}).status, 0);
    fs::permissions(mount, static_cast<fs::perms>(0750));
    ToolRun attached = attach(image);
    ASSERT_EQ(attached.status, 0) << attached.errors;

    const fs::path source = dir / "source" / "Orbitreel.app";
    const fs::path shown = mount / "Orbitreel.app";
    EXPECT_EQ(listTree(shown), listTree(source));
    for (const std::string& name : listTree(source)) {
        const fs::path from = source / name, to = shown / name;
        SCOPED_TRACE(name);
        if (fs::is_symlink(from)) {
            ASSERT_TRUE(fs::is_symlink(to));
            EXPECT_EQ(fs::read_symlink(to), fs::read_symlink(from));
            continue;
        }
        // The content keeps its modes but for the write bits, which attach removes.
        EXPECT_EQ(modeOf(to), modeOf(from) & ~0222u);
        if (fs::is_regular_file(from)) {
            EXPECT_EQ(readFile(to), readFile(from));
        }
        struct stat a {
        }, b{};
        ::stat(from.c_str(), &a);
        ::stat(to.c_str(), &b);
        if (!fs::is_directory(from)) {
            EXPECT_EQ(a.st_mtim.tv_sec, b.st_mtim.tv_sec);
        }
    }
    EXPECT_EQ(modeOf(mount) & 0222, 0u);

    ToolRun detached = runTool(Hdiutil, {"detach", mount.string()});
    ASSERT_EQ(detached.status, 0) << detached.errors;
    EXPECT_TRUE(fs::is_directory(mount));
    EXPECT_TRUE(fs::is_empty(mount));
    EXPECT_EQ(modeOf(mount), 0750u);
    // Once detached, nothing is attached there any more.
    EXPECT_EQ(runTool(Hdiutil, {"detach", mount.string()}).status, 1);
}

TEST_F(HdiutilImage, AttachRefusesAMountPointThatIsMissingALinkOrNotEmpty) {
    writeFile(mount / "kept.txt", "mine");
    EXPECT_EQ(attach(image).status, 1);
    EXPECT_EQ(listTree(mount), std::vector<std::string>{"kept.txt"});

    fs::remove_all(mount);
    EXPECT_EQ(attach(image).status, 1);
    EXPECT_FALSE(fs::exists(mount));

    fs::create_directory(dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", mount);
    EXPECT_EQ(attach(image).status, 1);
    // With a trailing slash the kernel would follow the link.
    EXPECT_EQ(
        runTool(Hdiutil, {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string() + "/"})
            .status,
        1);
    EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
}

TEST_F(HdiutilImage, DetachRefusesFoldersThatAttachDidNotFill) {
    writeFile(mount / "precious.txt", "keep me");
    EXPECT_EQ(runTool(Hdiutil, {"detach", mount.string()}).status, 1);
    EXPECT_EQ(readFile(mount / "precious.txt"), "keep me");

    // A marker copied from a real attach names another folder.
    fs::create_directory(dir / "real");
    ASSERT_EQ(
        runTool(Hdiutil, {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", (dir / "real").string()})
            .status,
        0);
    writeFile(mount / AttachMarkerName, readFile(dir / "real" / AttachMarkerName));
    EXPECT_EQ(runTool(Hdiutil, {"detach", mount.string()}).status, 1);
    EXPECT_EQ(readFile(mount / "precious.txt"), "keep me");
    EXPECT_EQ(runTool(Hdiutil, {"detach", (dir / "real").string()}).status, 0);
}

TEST_F(HdiutilImage, DamagedImagesFailVerify) {
    const std::string genuine = readFile(image);
    const auto size = fs::file_size(image);
    const auto seal = size - SealSize;
    struct Damage {
        std::string name;
        std::function<void(const fs::path&)> apply;
        // Attach checks the seal's presence and the structure, and leaves
        // the seal's digest to verify, which the installer runs first.
        bool attachRefuses;
    };
    const std::vector<Damage> damages = {
        {"truncated to half", [&](const fs::path& p) { truncateTo(p, size / 2); }, true},
        {"one byte short", [&](const fs::path& p) { truncateTo(p, size - 1); }, true},
        {"one byte appended", [&](const fs::path& p) { writeFile(p, genuine + "x"); }, true},
        {"without its seal", [&](const fs::path& p) { truncateTo(p, seal); }, true},
        {"empty", [&](const fs::path& p) { truncateTo(p, 0); }, true},
        {"seal malformed", [&](const fs::path& p) { flipByteAt(p, seal + 2); }, true},
        {"seal digest changed",
         [&](const fs::path& p) {
             std::string content = readFile(p);
             char& digit = content[content.find("pieces ", seal) + 7 + 10];
             digit = digit == '0' ? '1' : '0';
             writeFile(p, content);
         },
         false},
        {"volume descriptor byte", [&](const fs::path& p) { flipByteAt(p, 16 * 2048 + 40); }, false},
        {"directory record byte",
         [&](const fs::path& p) { flipByteAt(p, offsetOf(p, rockRidgeRename("Orbitreel", "").from) + 6); }, false},
        {"file content byte", [&](const fs::path& p) { flipByteAt(p, offsetOf(p, "echo orbitreel")); }, false},
        {"resealed broken structure",
         [&](const fs::path& p) {
             truncateTo(p, seal);
             patchOnce(p,
                       "\x01"
                       "CD001",
                       "\x01"
                       "CD002");
             ASSERT_TRUE(sealImage(p));
         },
         true},
        {"not an image at all",
         [&](const fs::path& p) {
             writeFile(p, std::string(64 * 1024, 'x'));
             ASSERT_TRUE(sealImage(p));
         },
         true},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.name);
        const fs::path damaged = dir / "damaged.dmg";
        writeFile(damaged, genuine);
        damage.apply(damaged);
        ToolRun verified = runTool(Hdiutil, {"verify", damaged.string()});
        EXPECT_EQ(verified.status, 1);
        EXPECT_FALSE(verified.errors.empty());
        if (damage.attachRefuses) {
            EXPECT_EQ(attach(damaged).status, 1);
            EXPECT_TRUE(fs::is_empty(mount));
            EXPECT_EQ(modeOf(mount) & 0200, 0200u);
        }
    }
    EXPECT_EQ(runTool(Hdiutil, {"verify", (dir / "missing.dmg").string()}).status, 1);
    EXPECT_EQ(runTool(Hdiutil, {"verify", mount.string()}).status, 1);
    EXPECT_EQ(runTool(Hdiutil, {"verify", image.string()}).status, 0);
}

TEST_F(HdiutilImage, CreateRefusesAnExistingImageAndWhatABundleCannotHold) {
    const std::string before = readFile(image);
    EXPECT_EQ(runTool(Hdiutil, {"create", "-srcfolder", (dir / "source").string(), image.string()}).status, 1);
    EXPECT_EQ(readFile(image), before);

    ASSERT_EQ(::mkfifo((dir / "source" / "Orbitreel.app" / "pipe").c_str(), 0644), 0);
    const fs::path other = dir / "other.dmg";
    EXPECT_EQ(runTool(Hdiutil, {"create", "-srcfolder", (dir / "source").string(), other.string()}).status, 1);
    EXPECT_FALSE(fs::exists(other));
}

// The format nests folders 8 deep and moves deeper ones into one folder; the
// writer crashed on a folder it had to move twice (14 deep) or on two of one
// name, leaving an empty image behind.
TEST(HdiutilCreate, TreesWithinTheDepthBoundComeBackWholeAndOthersLeaveNoImage) {
    TempDir dir;
    const fs::path source = dir / "source", image = dir / "image.dmg", mount = dir / "mount";
    fs::path deepest = source;
    for (int level = 1; level <= 12; ++level) deepest /= "level-" + std::to_string(level);
    fs::create_directories(deepest);
    fs::create_directories(source / "level-1" / "b" / "c" / "d" / "e" / "f" / "g" / "other-8" / "nine");
    writeFile(deepest / "file", "13 names below the root");
    fs::create_directory(mount);
    ASSERT_EQ(runTool(Hdiutil, {"create", "-srcfolder", source.string(), image.string()}).status, 0);
    ASSERT_EQ(
        runTool(Hdiutil, {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string()}).status,
        0);
    auto shown = listTree(mount);
    shown.erase(std::find(shown.begin(), shown.end(), AttachMarkerName));
    EXPECT_EQ(shown, listTree(source));
    EXPECT_EQ(readFile(mount / fs::relative(deepest, source) / "file"), "13 names below the root");
    ASSERT_EQ(runTool(Hdiutil, {"detach", mount.string()}).status, 0);

    auto refused = [&](const std::string& reason) {
        const auto before = listTree(dir.path());
        ToolRun run = runTool(Hdiutil, {"create", "-srcfolder", source.string(), (dir / "other.dmg").string()});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.errors.find(reason), std::string::npos) << run.errors;
        EXPECT_EQ(listTree(dir.path()), before) << "an image or its temporary copy was left";
    };
    fs::create_directories(deepest / "level-13");
    writeFile(deepest / "level-13" / "file", "14 names below the root");
    refused("tree nested deeper than 13 names");
    fs::remove_all(deepest / "level-13");
    fs::create_directory(source / "level-1" / "b" / "c" / "d" / "e" / "f" / "g" / "level-8");
    refused("two folders named level-8");
}

TEST(HdiutilCommandLine, RefusesWhatItDoesNotKnow) {
    TempDir dir;
    const std::string image = (dir / "x.dmg").string(), mount = dir.path().string();
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"mount", image},
        {"verify"},
        {"verify", image, image},
        {"attach", image},
        {"attach", image, "-readonly", "-nobrowse"},
        {"attach", image, "-nobrowse", "-mountpoint", mount},  // writable attach is not offered
        {"attach", image, "-readonly", "-nobrowse", "-mountpoint"},
        {"attach", image, "-readonly", "-readonly", "-nobrowse", "-mountpoint", mount},
        {"attach", image, "-readonly", "-nobrowse", "-mountpoint", mount, "-noverify"},
        {"detach"},
        {"detach", mount, "-force"},
        {"create", image},
        {"create", "-srcfolder", mount},
        {"create", "-volname", mount, image},
    };
    for (const auto& arguments : wrong) {
        ToolRun run = runTool(Hdiutil, arguments);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(arguments);
        EXPECT_NE(run.errors.find("usage"), std::string::npos);
    }
}

}  // namespace
}  // namespace orbitreel::standins::test_support
