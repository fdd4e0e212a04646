// Hostile images: attach must never write outside the mount point, and must
// fail, leaving it empty, where the content cannot be shown safely.

#include <archive.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "standins/hdiutil/attach_marker.h"
#include "standins/hdiutil/image_mount.h"
#include "standins/hdiutil/image_verify.h"
#include "standins/hdiutil/safe_extraction.h"
#include "tests/standins/standins_test_support.h"

namespace orbitreel::standins::test_support {
namespace {

class HostileImage : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(outside);
        writeFile(outside / "secret", "untouched");
        fs::create_directories(mount);
    }

    // Attach must fail, and leave the mount point empty and nothing new
    // next to it or in the outside folder; verify, reading the image the
    // same way, must fail for the same reason.
    void expectRefused(const std::string& reason, const std::vector<ImageEntry>& entries,
                       const std::vector<BytePatch>& patches = {}) {
        writeIsoImage(image, entries, patches);
        expectRefusedAsItIs(reason);
    }

    void expectRefusedAsItIs(const std::string& reason) {
        ToolRun verified = runTool(Hdiutil, {"verify", image.string()});
        EXPECT_EQ(verified.status, 1);
        EXPECT_NE(verified.errors.find(reason), std::string::npos) << verified.errors;
        ToolRun run =
            runTool(Hdiutil, {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string()});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.errors.find(reason), std::string::npos) << run.errors;
        EXPECT_TRUE(fs::is_empty(mount)) << ::testing::PrintToString(listTree(mount));
        expectNothingOutside();
        fs::remove(image);
    }

    void expectNothingOutside() {
        EXPECT_EQ(listTree(outside), std::vector<std::string>{"secret"});
        EXPECT_EQ(readFile(outside / "secret"), "untouched");
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            const std::string name = entry.path().filename().string();
            EXPECT_TRUE(name == "outside" || name == "mount" || name == "image.dmg" || name == "archive.tar") << name;
        }
    }

    TempDir dir;
    fs::path outside = dir / "outside";
    fs::path mount = dir / "mount";
    fs::path image = dir / "image.dmg";
};

TEST_F(HostileImage, NamesThatLeaveTheMountPointAreRefused) {
    // The writer normalises names; the patches put back what an attacker
    // would write by hand.
    const std::string absolute = (outside / "abs").string();
    expectRefused("absolute path refused", {{.path = std::string(absolute.size(), 'a'), .content = "x"}},
                  {rockRidgeRename(std::string(absolute.size(), 'a'), absolute)});
    expectRefused("path with \"..\" refused", {{.path = "zz", .content = "x"}}, {rockRidgeRename("zz", "..")});
    expectRefused("path with \"..\" refused",
                  {{.path = "up", .type = S_IFDIR, .mode = 0755}, {.path = "up/escaped", .content = "x"}},
                  {rockRidgeRename("up", "..")});
    EXPECT_FALSE(fs::exists(dir / "escaped"));
    expectRefused("path with \"..\" refused",
                  {{.path = "in", .type = S_IFDIR, .mode = 0755}, {.path = "in/zz", .content = "x"}},
                  {rockRidgeRename("zz", "..")});
}

TEST_F(HostileImage, LinksThatLeaveTheMountPointAreRefused) {
    expectRefused("link to an absolute path", {{.path = "link", .type = S_IFLNK, .target = outside.string()}});
    expectRefused("link leaves the tree", {{.path = "d", .type = S_IFDIR, .mode = 0755},
                                           {.path = "d/link", .type = S_IFLNK, .target = "../../outside/secret"}});
    // Each link alone stays inside; followed through each other they do not.
    expectRefused("link leaves the tree", {{.path = "here", .type = S_IFLNK, .target = "."},
                                           {.path = "sneaky", .type = S_IFLNK, .target = "here/here/../outside"}});
    expectRefused("loop of links", {{.path = "loop", .type = S_IFLNK, .target = "loop/x"}});
    // A file written through a link to the outside: a folder renamed onto
    // the link's name.
    expectRefused("two entries with one path",
                  {{.path = "a", .type = S_IFLNK, .target = outside.string()},
                   {.path = "b", .type = S_IFDIR, .mode = 0755},
                   {.path = "b/secret", .content = "overwritten"},
                   {.path = "b/added", .content = "added"}},
                  {rockRidgeRename("b", "a")});
}

TEST_F(HostileImage, DevicesFifosAndReservedNamesAreRefused) {
    expectRefused("device file refused", {{.path = "null", .type = S_IFCHR, .rdev = 0x0103}});
    expectRefused("device file refused", {{.path = "disk", .type = S_IFBLK, .rdev = 0x0800}});
    expectRefused("FIFO refused", {{.path = "pipe", .type = S_IFIFO}});
    expectRefused("reserved name", {{.path = AttachMarkerName, .content = "forged marker"}});
}

TEST_F(HostileImage, EntriesWhoseRecordsDisagreeOnTheirKindAreRefused) {
    // A file by its mode that carries a link record: made as a link, it led
    // the mode changes meant for a file to the link's target outside.
    const std::vector<ImageEntry> link = {{.path = "l", .type = S_IFLNK, .mode = 0600, .target = "../outside/secret"}};
    for (mode_t mode : {0400u, 0600u, 0777u}) {
        SCOPED_TRACE(mode);
        expectRefused("records disagree", link, {{rockRidgeMode(S_IFLNK | 0600), rockRidgeMode(S_IFREG | mode)}});
        EXPECT_EQ(modeOf(outside / "secret"), 0644u);
    }
    // And a link by its mode without a link record.
    expectRefused("records disagree", {{.path = "f", .mode = 0600, .content = "x"}},
                  {{rockRidgeMode(S_IFREG | 0600), rockRidgeMode(S_IFLNK | 0600)}});
}

TEST_F(HostileImage, ExtentsBeforeWhatWasReadAreRefusedAtOnce) {
    // An extent at block 0 once made verify read the same entries again
    // until the entry bound; one over another file's shows other bytes.
    const std::vector<ImageEntry> files = {{.path = "a", .content = "first file"},
                                           {.path = "b", .content = "second file"}};
    const std::pair<std::string, std::uint32_t> moves[] = {{"at block 0", 0}, {"over another file's", 1}};
    for (const auto& [name, to] : moves) {
        SCOPED_TRACE(name);
        writeIsoImage(image, files);
        const auto first = static_cast<std::uint32_t>(offsetOf(image, "first file") / 2048);
        const auto second = static_cast<std::uint32_t>(offsetOf(image, "second file") / 2048);
        patchSealed(image, isoExtent(second, 11), isoExtent(to == 0 ? 0 : first, 11));
        expectRefusedAsItIs("out-of-order file");
    }
}

TEST_F(HostileImage, SetIdBitsAreDroppedAndLinksInsideAreKept) {
    writeIsoImage(image, {{.path = "app", .type = S_IFDIR, .mode = 01777},
                          {.path = "app/tool", .mode = 06755, .content = "#!/bin/sh\n"},
                          {.path = "app/same", .mode = 06755, .hardlink = "app/tool"},
                          {.path = "app/up", .type = S_IFLNK, .target = "../app/./tool"}});
    ToolRun run = runTool(Hdiutil, {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string()});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(modeOf(mount / "app"), 0555u);
    EXPECT_EQ(modeOf(mount / "app" / "tool"), 0555u);
    EXPECT_EQ(readFile(mount / "app" / "up"), "#!/bin/sh\n");
    EXPECT_EQ(runTool(Hdiutil, {"detach", mount.string()}).status, 0);
    expectNothingOutside();
    fs::remove(image);
}

TEST_F(HostileImage, ContentBeyondTheBoundsIsRefused) {
    writeIsoImage(image, {{.path = "a", .content = std::string(3000, 'a')},
                          {.path = "b", .content = std::string(3000, 'b')},
                          {.path = "d", .type = S_IFDIR, .mode = 0755},
                          {.path = "d/e", .type = S_IFDIR, .mode = 0755}});
    struct Case {
        const char* name;
        ExtractionLimits limits;
    };
    const Case cases[] = {
        {"total size", {.maxTotalBytes = 5000}},
        {"one file's size", {.maxTotalBytes = 2999}},
        {"entry count", {.maxEntries = 3}},
        {"path length", {.maxPathBytes = 2}},
        {"depth", {.maxDepth = 1}},
    };
    for (const Case& bounded : cases) {
        SCOPED_TRACE(bounded.name);
        auto attached = attachImage(image, mount, bounded.limits);
        EXPECT_FALSE(attached);
        EXPECT_TRUE(fs::is_empty(mount));
    }
    EXPECT_TRUE(verifyImage(image));
    EXPECT_FALSE(verifyImage(image, {.maxTotalBytes = 5000}));
    EXPECT_FALSE(verifyImage(image, {.maxEntries = 3}));
    ASSERT_TRUE(attachImage(image, mount, {.maxTotalBytes = 6000, .maxEntries = 4, .maxPathBytes = 3, .maxDepth = 2}));
    EXPECT_TRUE(detachImage(mount));
    fs::remove(image);
}

// Hard links and orders of entries that an ISO volume cannot express come
// through a tar archive, which the same extraction reads.
struct RefusedArchive {
    std::string reason;
    std::vector<ImageEntry> entries;
};

class HostileArchive : public HostileImage {
protected:
    // The extraction refuses for `reason` and leaves nothing outside; the
    // mount point is emptied for the next archive.
    void expectArchiveRefused(const RefusedArchive& archive) {
        auto extracted = extract(archive.entries);
        ASSERT_FALSE(extracted);
        EXPECT_NE(extracted.error().localizedDescription().find(archive.reason), std::string::npos)
            << extracted.error().localizedDescription();
        expectNothingOutside();
        fs::remove_all(mount);
        fs::create_directory(mount);
    }

    Result<void> extract(const std::vector<ImageEntry>& entries) {
        const fs::path tar = dir / "archive.tar";
        writeTarArchive(tar, entries);
        struct archive* reader = archive_read_new();
        archive_read_support_format_tar(reader);
        EXPECT_EQ(archive_read_open_filename(reader, tar.c_str(), 10240), ARCHIVE_OK);
        auto result = extractEntries(reader, mount, {}, AttachMarkerName);
        archive_read_free(reader);
        fs::remove(tar);
        return result;
    }
};


TEST_F(HostileArchive, HardLinksOnlyToFilesExtractedBefore) {
    const std::vector<RefusedArchive> refused = {
        {"absolute path refused", {{.path = "stolen", .hardlink = (outside / "secret").string()}}},
        {"path with \"..\" refused", {{.path = "stolen", .hardlink = "../outside/secret"}}},
        {"no file of the image",
         {{.path = "out", .type = S_IFLNK, .target = "../outside"}, {.path = "stolen", .hardlink = "out/secret"}}},
        {"no file of the image", {{.path = "early", .hardlink = "late"}, {.path = "late", .content = "x"}}},
        {"no file of the image",
         {{.path = "folder", .type = S_IFDIR, .mode = 0755}, {.path = "stolen", .hardlink = "folder"}}},
    };
    for (const RefusedArchive& archive : refused) {
        SCOPED_TRACE(archive.entries.back().path + " -> " + archive.entries.back().hardlink);
        expectArchiveRefused(archive);
    }
    auto shared = extract({{.path = "file", .content = "shared"}, {.path = "again", .hardlink = "file"}});
    ASSERT_TRUE(shared) << shared.error().localizedDescription();
    EXPECT_EQ(readFile(mount / "again"), "shared");
    EXPECT_EQ(fs::hard_link_count(mount / "file"), 2u);
}

TEST_F(HostileArchive, NothingIsWrittenThroughALinkOrOverAnEarlierEntry) {
    const std::vector<RefusedArchive> refused = {
        {"written through a link",
         {{.path = "a", .type = S_IFLNK, .target = "../outside"}, {.path = "a/secret", .content = "overwritten"}}},
        {"written through a link",
         {{.path = "a", .type = S_IFLNK, .target = "."}, {.path = "a/b", .content = "through an inside link"}}},
        {"two entries with one path",
         {{.path = "f", .content = "first"}, {.path = "f", .type = S_IFLNK, .target = "../outside/secret"}}},
        {"two entries with one path",
         {{.path = "f", .type = S_IFLNK, .target = "../outside/secret"}, {.path = "f", .content = "second"}}},
        {"below a file", {{.path = "f", .content = "file"}, {.path = "f/below", .content = "x"}}},
        {"absolute path refused", {{.path = (outside / "secret").string(), .content = "x"}}},
        {"path with \"..\" refused", {{.path = "../outside/secret", .content = "x"}}},
    };
    for (const RefusedArchive& archive : refused) {
        SCOPED_TRACE(archive.entries.back().path);
        expectArchiveRefused(archive);
    }
}

}  // namespace
}  // namespace orbitreel::standins::test_support
