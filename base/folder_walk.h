#pragma once
// Walks a tree by descriptor: every item below a folder, a folder before
// what it holds, names in bytewise order, links reported as themselves and
// never entered. Each caller bounds how deep a tree it takes, so that the
// descriptors and the stack a walk holds stay bounded.

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <vector>

#include "base/error.h"
#include "base/folder_entries.h"
#include "base/unique_fd.h"

namespace orbitreel::base {

struct WalkRules {
    // How many names below the top an item may lie. The first item deeper
    // stops the walk, before it is looked at, with ENAMETOOLONG.
    std::size_t maxDepth = 0;
    Wording words = nullptr;
};

// An item met by a walk.
struct WalkItem {
    int folder;                            // the folder that holds it
    const std::string& name;               // its name there
    const std::vector<std::string>& path;  // the names from the top, its own last
    const std::string& shown;              // as the caller shows it
    const struct stat& status;             // the item itself, never a link's target
};

class TreeVisitor {
public:
    virtual ~TreeVisitor() = default;
    // Each item in turn; for a folder, true walks into it.
    virtual Result<bool> visit(const WalkItem& item) = 0;
    // A folder walked into, once everything in it was visited: `opened` is
    // its descriptor and `item.status` its status when it was opened.
    virtual Result<void> leave(const WalkItem& item, int opened);
};

// Visits everything below the folder open at `top`, shown as `shown`. A
// folder is entered only when it is still the item that was visited: one
// swapped for a link or another folder meanwhile fails with ELOOP, ENOTDIR
// or ESTALE.
Result<void> walkFolder(int top, const std::string& shown, const WalkRules& rules, TreeVisitor& visitor);

// A folder opened after it was looked at, and its status then.
struct OpenedFolder {
    UniqueFd fd;
    struct stat status {};
};

// Opens the folder `name` of `folder` when it is the very item `seen`
// describes (ESTALE otherwise), as the walk does.
Result<OpenedFolder> openSeenFolder(int folder, const std::string& name, const struct stat& seen,
                                    const std::string& shown, Wording words);

}  // namespace orbitreel::base
