// ditto: a whole bundle copied with its modes, links and times, never over
// something that exists.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/standins/standins_test_support.h"

namespace orbitreel::standins::test_support {
namespace {

struct timespec modifiedAt(const fs::path& path) {
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mtim;
}

void setModifiedAt(const fs::path& path, long seconds, long nanoseconds) {
    const struct timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

class DittoCopy : public ::testing::Test {
protected:
    void SetUp() override {
        makeSampleBundle(source);
        fs::create_symlink("/nowhere/at/all", source / "Contents" / "dangling");
        fs::permissions(source / "Contents" / "Resources", static_cast<fs::perms>(0750));
        writeFile(source / "Contents" / "Resources" / "private", "p", 0600);
        long second = 1600000000;
        for (const std::string& name : listTree(source)) setModifiedAt(source / name, ++second, 123456789);
        setModifiedAt(source, 1500000000, 5);
    }

    TempDir dir;
    fs::path source = dir / "Orbitreel.app";
    fs::path destination = dir / ".Orbitreel-install-1.app";
};

TEST_F(DittoCopy, CopiesContentModesLinksAndTimes) {
    ToolRun run = runTool(Ditto, {source.string(), destination.string()});
    ASSERT_EQ(run.status, 0) << run.errors;
    ASSERT_EQ(listTree(destination), listTree(source));
    for (std::string name : listTree(source)) {
        SCOPED_TRACE(name);
        const fs::path from = source / name, to = destination / name;
        EXPECT_EQ(modeOf(to), modeOf(from));
        EXPECT_EQ(modifiedAt(to).tv_sec, modifiedAt(from).tv_sec);
        EXPECT_EQ(modifiedAt(to).tv_nsec, modifiedAt(from).tv_nsec);
        if (fs::is_symlink(from)) {
            ASSERT_TRUE(fs::is_symlink(to));
            EXPECT_EQ(fs::read_symlink(to), fs::read_symlink(from));
        } else if (fs::is_regular_file(from)) {
            EXPECT_EQ(readFile(to), readFile(from));
        }
    }
    EXPECT_EQ(modifiedAt(destination).tv_sec, 1500000000);
}

// The copy lands where others may start it: permission bits only, and the
// owner's to write.
TEST_F(DittoCopy, ACopyKeepsOnlyPermissionsAndIsWritableByItsOwner) {
    fs::permissions(source / "Contents" / "MacOS" / "Orbitreel", static_cast<fs::perms>(04555));
    fs::permissions(source / "Contents" / "Info.plist", static_cast<fs::perms>(0444));
    fs::permissions(source / "Contents" / "MacOS", static_cast<fs::perms>(0555));
    fs::permissions(source / "Contents" / "Resources", static_cast<fs::perms>(02755));
    fs::create_directory(source / "Contents" / "Shared");
    fs::permissions(source / "Contents" / "Shared", static_cast<fs::perms>(01777));
    ASSERT_EQ(modeOf(source / "Contents" / "Resources"), 02755u) << "set-group-id needs the folder's group";
    ToolRun run = runTool(Ditto, {source.string(), destination.string()});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(modeOf(destination / "Contents" / "MacOS" / "Orbitreel"), 0755u);
    EXPECT_EQ(modeOf(destination / "Contents" / "Info.plist"), 0644u);
    EXPECT_EQ(modeOf(destination / "Contents" / "MacOS"), 0755u);
    EXPECT_EQ(modeOf(destination / "Contents" / "Resources"), 0755u);
    EXPECT_EQ(modeOf(destination / "Contents" / "Shared"), 0777u);
}

TEST_F(DittoCopy, RefusesADestinationThatExists) {
    fs::create_directory(destination);
    writeFile(destination / "old", "old");
    EXPECT_EQ(runTool(Ditto, {source.string(), destination.string()}).status, 1);
    EXPECT_EQ(listTree(destination), std::vector<std::string>{"old"});

    const fs::path file = dir / "file", dangling = dir / "dangling";
    writeFile(file, "mine");
    EXPECT_EQ(runTool(Ditto, {source.string(), file.string()}).status, 1);
    EXPECT_EQ(readFile(file), "mine");
    fs::create_symlink(dir / "nothing", dangling);
    EXPECT_EQ(runTool(Ditto, {source.string(), dangling.string()}).status, 1);
    EXPECT_FALSE(fs::exists(dir / "nothing"));
}

TEST_F(DittoCopy, AFailedCopyLeavesNothingBehind) {
    EXPECT_EQ(runTool(Ditto, {(dir / "missing.app").string(), destination.string()}).status, 1);
    EXPECT_FALSE(fs::exists(destination));

    const auto before = listTree(source);
    ToolRun itself = runTool(Ditto, {source.string(), (source / "Contents" / "Itself.app").string()});
    EXPECT_EQ(itself.status, 1);
    EXPECT_NE(itself.errors.find("inside the source"), std::string::npos) << itself.errors;
    EXPECT_EQ(listTree(source), before);

    ASSERT_EQ(::mkfifo((source / "Contents" / "zz-pipe").c_str(), 0644), 0);
    EXPECT_EQ(runTool(Ditto, {source.string(), destination.string()}).status, 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(destination)));

    EXPECT_EQ(runTool(Ditto, {source.string(), (dir / "no-parent" / "x.app").string()}).status, 1);
    EXPECT_FALSE(fs::exists(dir / "no-parent"));
}

TEST(DittoPaths, LinksAndDotsResolveAsTheKernelResolvesThem) {
    TempDir dir;
    // lnk/.. is the link target's parent, not the folder that holds lnk.
    fs::create_directories(dir / "elsewhere" / "target");
    fs::create_directories(dir / "elsewhere" / "src");
    fs::create_directories(dir / "src");
    writeFile(dir / "elsewhere" / "src" / "which", "through the link");
    writeFile(dir / "src" / "which", "by the text");
    fs::create_directory_symlink(dir / "elsewhere" / "target", dir / "lnk");
    const fs::path copy = dir / "copy";
    ASSERT_EQ(runTool(Ditto, {(dir / "lnk" / ".." / "src").string(), copy.string()}).status, 0);
    EXPECT_EQ(readFile(copy / "which"), "through the link");
}

// Every walk is bounded: 4,000 nested folders overflowed the stack, and the
// copy was left behind.
TEST(DittoDepth, TreesDeeperThanTheBoundAreRefusedAndLeaveNothing) {
    TempDir dir;
    fs::path deepest = dir / "Deep.app";
    for (int level = 1; level <= 12; ++level) deepest /= "d";
    fs::create_directories(deepest);
    writeFile(deepest / "file", "13 names below the bundle", 0444);
    fs::permissions(deepest, static_cast<fs::perms>(0500));
    const fs::path copy = dir / "Copy.app";
    ASSERT_EQ(runTool(Ditto, {(dir / "Deep.app").string(), copy.string()}).status, 0);
    EXPECT_EQ(listTree(copy), listTree(dir / "Deep.app"));
    fs::remove_all(copy);

    fs::permissions(deepest, static_cast<fs::perms>(0700));
    fs::create_directories(deepest / "d");
    writeFile(deepest / "d" / "file", "14 names below the bundle");
    ToolRun run = runTool(Ditto, {(dir / "Deep.app").string(), copy.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.errors.find("nested deeper"), std::string::npos) << run.errors;
    EXPECT_FALSE(fs::exists(fs::symlink_status(copy)));
}

TEST(DittoCommandLine, RefusesOptionsAndOtherCounts) {
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{}, {"a"}, {"a", "b", "c"}, {"-V", "a", "b"}, {"--rsrc", "a"}}) {
        ToolRun run = runTool(Ditto, arguments);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(arguments);
        EXPECT_NE(run.errors.find("usage"), std::string::npos);
    }
}

}  // namespace
}  // namespace orbitreel::standins::test_support
