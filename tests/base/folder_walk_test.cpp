#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/folder_walk.h"
#include "tests/base/walk_test_support.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/text_files.h"

namespace orbitreel::base::test {
namespace {

namespace fs = std::filesystem;

// Records what the walk meets, as "path" for items and "path/" for folders
// left, and may act on the tree when it meets an item.
class Recorder : public TreeVisitor {
public:
    std::vector<std::string> met;
    std::vector<std::string> shown;
    int deepestDescriptors = 0;
    std::function<void(const WalkItem&)> onVisit;

    Result<bool> visit(const WalkItem& item) override {
        std::string path;
        for (const std::string& name : item.path) path += (path.empty() ? "" : "/") + name;
        met.push_back(S_ISLNK(item.status.st_mode) ? path + "@" : path);
        shown.push_back(item.shown);
        deepestDescriptors = std::max(deepestDescriptors, openDescriptors());
        if (onVisit) onVisit(item);
        return true;
    }
    Result<void> leave(const WalkItem& item, int) override {
        met.push_back(item.path.back() + "/");
        return {};
    }
};

// Bytewise: "B" before "a", and "\xC3\xA9" (é) after "z", which a signed
// comparison of characters would put first. A link is reported as itself,
// and what it points at is never visited, whatever the visitor answers.
TEST(FolderWalk, VisitsEveryItemOnceInBytewiseOrderAndNeverEntersALink) {
    test_support::TemporaryFolder folder;
    const fs::path top = folder.path() / "top";
    test_support::writeText(top / "B", "b");
    test_support::writeText(top / "a" / "z", "z");
    test_support::writeText(top / "a" / "\xC3\xA9", "e");
    test_support::writeText(top / "a.b", "ab");
    test_support::writeText(folder.path() / "outside" / "secret", "s");
    fs::create_directory_symlink(folder.path() / "outside", top / "link");

    Recorder recorder;
    UniqueFd fd = openedFolder(top);
    ASSERT_TRUE(walkFolder(fd.get(), "shown", rulesTo(8), recorder));
    EXPECT_EQ(recorder.met, (std::vector<std::string>{"B", "a", "a/z", "a/\xC3\xA9", "a/", "a.b", "link@"}));
    EXPECT_EQ(recorder.shown[2], "shown/a/z");
}

// Deeper trees fail at the first item past the caller's bound, before it is
// visited; within it, the walk holds one descriptor per folder it is in.
TEST(FolderWalk, EachCallerBoundsTheDepthAndTheDescriptorsHeld) {
    test_support::TemporaryFolder folder;
    const fs::path top = folder.path() / "top";
    test_support::writeText(top / "d1" / "d2" / "d3" / "file", "4 names below");
    UniqueFd fd = openedFolder(top);
    const int before = openDescriptors();

    Recorder within;
    ASSERT_TRUE(walkFolder(fd.get(), "top", rulesTo(4), within));
    EXPECT_EQ(within.met.size(), 7u);
    EXPECT_LE(within.deepestDescriptors - before, 3) << "d1, d2 and d3 while the file is visited";

    Recorder beyond;
    auto walked = walkFolder(fd.get(), "top", rulesTo(3), beyond);
    ASSERT_FALSE(walked);
    EXPECT_EQ(codeOf(walked.error()), ENAMETOOLONG);
    EXPECT_EQ(shownOf(walked.error()), "top/d1/d2/d3/file");
    EXPECT_EQ(beyond.met, (std::vector<std::string>{"d1", "d1/d2", "d1/d2/d3"}));
    EXPECT_EQ(openDescriptors(), before) << "a failed walk holds nothing";
}

// What was seen is what is entered: a folder swapped for a link or for
// another folder between the two is not walked into.
TEST(FolderWalk, AFolderReplacedAfterItWasSeenIsNotEntered) {
    test_support::TemporaryFolder folder;
    const fs::path top = folder.path() / "top";
    test_support::writeText(folder.path() / "outside" / "secret", "s");
    const std::vector<std::function<void()>> swaps = {
        [&] { fs::create_directory_symlink(folder.path() / "outside", top / "a"); },
        [&] { test_support::writeText(top / "a" / "other", "o"); },
    };
    for (std::size_t round = 0; round < swaps.size(); ++round) {
        SCOPED_TRACE(round);
        test_support::writeText(top / "a" / "file", "f");
        Recorder recorder;
        recorder.onVisit = [&](const WalkItem& item) {
            if (item.name != "a") return;
            fs::rename(top / "a", folder.path() / ("aside" + std::to_string(round)));
            swaps[round]();
        };
        UniqueFd fd = openedFolder(top);
        auto walked = walkFolder(fd.get(), "top", rulesTo(8), recorder);
        ASSERT_FALSE(walked);
        EXPECT_EQ(shownOf(walked.error()), "top/a");
        EXPECT_EQ(recorder.met, std::vector<std::string>{"a"});
        fs::remove_all(top / "a");
    }
}

}  // namespace
}  // namespace orbitreel::base::test
