#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include "base/folder_walk.h"
#include "base/tree_removal.h"
#include "tests/base/walk_test_support.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/text_files.h"

namespace orbitreel::base::test {
namespace {

namespace fs = std::filesystem;

class OutsideSpotter : public TreeVisitor {
public:
    bool sawOutside = false;
    Result<bool> visit(const WalkItem& item) override {
        if (item.name == "secret") sawOutside = true;
        return true;
    }
};

// Someone who may write the tree swaps a folder in it for a link to a
// folder outside, over and over, while it is walked and removed: the walk
// never reaches outside, and the removal never removes anything there,
// whether it fails or succeeds.
TEST(TreeRace, AFolderSwappedForALinkDuringWalksAndRemovalsNeverLeadsOutside) {
    test_support::TemporaryFolder folder;
    const fs::path outside = folder.path() / "outside", tree = folder.path() / "tree";
    test_support::writeText(outside / "secret", "s");
    test_support::writeText(outside / "inner" / "secret", "s");
    const auto outsideMode = fs::status(outside).permissions();
    UniqueFd parent(::open(folder.path().c_str(), O_RDONLY | O_DIRECTORY));

    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        for (int i = 0; i < 8; ++i) test_support::writeText(tree / "victim" / "inner" / std::to_string(i), "v");
        fs::create_directory_symlink(outside, tree / "swap");
        UniqueFd treeFd(::open(tree.c_str(), O_RDONLY | O_DIRECTORY));

        std::atomic<bool> stop = false;
        std::thread swapper([&] {
            while (!stop) ::renameat2(treeFd.get(), "victim", treeFd.get(), "swap", RENAME_EXCHANGE);
        });
        OutsideSpotter spotter;
        ignore(walkFolder(treeFd.get(), "tree", rulesTo(8), spotter));
        ignore(removeTree(parent.get(), "tree", "tree", rulesTo(8)));
        stop = true;
        swapper.join();

        EXPECT_FALSE(spotter.sawOutside);
        ASSERT_EQ(test_support::readText(outside / "secret"), "s");
        ASSERT_EQ(test_support::readText(outside / "inner" / "secret"), "s");
        ASSERT_EQ(fs::status(outside).permissions(), outsideMode);
        fs::remove_all(tree);
    }
}

}  // namespace
}  // namespace orbitreel::base::test
