#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/tree_removal.h"
#include "tests/base/walk_test_support.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/text_files.h"

namespace orbitreel::base::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t Nobody = 65534;

fs::perms modeOf(const fs::path& path) { return fs::symlink_status(path).permissions(); }

// A link is an entry: it goes, and what it points at keeps its content and
// mode, whether it is the top, lies inside, points at a folder or a file,
// or points nowhere.
TEST(TreeRemoval, LinksAreRemovedAndWhatTheyPointAtSurvives) {
    test_support::TemporaryFolder folder;
    const fs::path outside = folder.path() / "outside", tree = folder.path() / "tree";
    test_support::writeText(outside / "file", "o");
    test_support::writeText(tree / "sub" / "file", "t");
    fs::create_directory_symlink(outside, tree / "sub" / "to-folder");
    fs::create_symlink("../../outside/file", tree / "sub" / "to-file");
    fs::create_symlink("nowhere", tree / "dangling");
    fs::create_directory_symlink(outside, folder.path() / "top-link");
    fs::permissions(outside, static_cast<fs::perms>(0500));
    UniqueFd parent = openedFolder(folder.path());

    ASSERT_TRUE(removeTree(parent.get(), "top-link", "top-link", rulesTo(4)));
    ASSERT_TRUE(removeTree(parent.get(), "tree", "tree", rulesTo(4)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder.path() / "top-link")));
    EXPECT_EQ(test_support::readText(outside / "file"), "o");
    EXPECT_EQ(modeOf(outside), static_cast<fs::perms>(0500));

    auto missing = removeTree(parent.get(), "tree", "tree", rulesTo(4));
    ASSERT_FALSE(missing) << "removing nothing is a failure";
    EXPECT_EQ(codeOf(missing.error()), ENOENT);
}

// The bound counts names below the entry removed; past it nothing deeper is
// touched and no descriptor stays open.
TEST(TreeRemoval, ATreeDeeperThanTheBoundStopsTheRemovalWithoutLeakingDescriptors) {
    test_support::TemporaryFolder folder;
    test_support::writeText(folder.path() / "tree" / "d1" / "d2" / "file", "3 names below");
    UniqueFd parent = openedFolder(folder.path());
    const int before = openDescriptors();
    auto deep = removeTree(parent.get(), "tree", "tree", rulesTo(2));
    ASSERT_FALSE(deep);
    EXPECT_EQ(codeOf(deep.error()), ENAMETOOLONG);
    EXPECT_EQ(shownOf(deep.error()), "tree/d1/d2/file");
    EXPECT_EQ(test_support::readText(folder.path() / "tree" / "d1" / "d2" / "file"), "3 names below");
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_TRUE(removeTree(parent.get(), "tree", "tree", rulesTo(3)));
}

// Another user's folder is theirs: the removal stops there, without
// entering it or changing its mode.
TEST(TreeRemoval, AnotherUsersFolderStopsTheRemovalAndKeepsItsContentAndMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a folder to another user";
    test_support::TemporaryFolder folder;
    const fs::path tree = folder.path() / "tree";
    test_support::writeText(tree / "a-file", "a");
    test_support::writeText(tree / "theirs" / "file", "t");
    test_support::writeText(tree / "z-file", "z");
    fs::permissions(tree / "theirs", static_cast<fs::perms>(0555));
    ASSERT_EQ(::chown((tree / "theirs").c_str(), Nobody, Nobody), 0);
    UniqueFd parent = openedFolder(folder.path());

    auto removed = removeTree(parent.get(), "tree", "tree", rulesTo(4));
    ASSERT_FALSE(removed);
    EXPECT_EQ(codeOf(removed.error()), EPERM);
    EXPECT_EQ(shownOf(removed.error()), "tree/theirs");
    EXPECT_EQ(test_support::readText(tree / "theirs" / "file"), "t");
    EXPECT_EQ(modeOf(tree / "theirs"), static_cast<fs::perms>(0555));
    EXPECT_FALSE(fs::exists(tree / "a-file")) << "what came before it in order went";
}

// Runs `body` as a user who is not root, for whom modes bind, in a child
// process; returns its exit status.
template <class Body>
int asNobody(Body body) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setresgid(Nobody, Nobody, Nobody) != 0 ||
            ::setresuid(Nobody, Nobody, Nobody) != 0)
            ::_exit(3);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 4;
}

// Folders their owner may not read, write or enter (a read-only image's
// copy) are opened to their owner and emptied; removing the contents keeps
// the folder and the entry it is told to keep.
TEST(TreeRemoval, TheOwnersLockedFoldersAreUnlockedAndEmptied) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user, for whom modes bind";
    test_support::TemporaryFolder folder;
    const fs::path top = folder.path() / "top";
    test_support::writeText(top / "keep" / "file", "k");
    test_support::writeText(top / "read-only" / "closed" / "file", "c");
    test_support::writeText(top / "read-only" / "file", "r");
    test_support::writeText(top / "read-only-file", "f");
    fs::permissions(folder.path(), static_cast<fs::perms>(0755));
    for (const auto& entry : fs::recursive_directory_iterator(top))
        ASSERT_EQ(::lchown(entry.path().c_str(), Nobody, Nobody), 0);
    ASSERT_EQ(::chown(top.c_str(), Nobody, Nobody), 0);
    fs::permissions(top / "read-only-file", static_cast<fs::perms>(0444));
    fs::permissions(top / "read-only" / "closed", fs::perms::none);
    fs::permissions(top / "read-only", static_cast<fs::perms>(0555));

    const int status = asNobody([&] {
        UniqueFd fd = openedFolder(top);
        auto emptied = removeContents(fd.get(), "keep", "top", rulesTo(4));
        if (!emptied) std::fprintf(stderr, "%s\n", shownOf(emptied.error()).c_str());
        return emptied ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(test_support::readText(top / "keep" / "file"), "k");
    EXPECT_EQ(std::distance(fs::directory_iterator(top), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace orbitreel::base::test
