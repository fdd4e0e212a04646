#pragma once
// The person's own trees, handled by descriptor. Applications folders may be
// shared with other people who can rename entries in them at any moment, so
// a path that was checked may name something else when it is used again:
// every step below goes from an open descriptor, never through a link, and
// enters only folders that belong to the current user.

#include <string>
#include <vector>

#include "base/error.h"
#include "base/unique_fd.h"
#include "platform/files.h"

namespace orbitreel {

// Deeper trees are left alone: an installed application is far shallower,
// and the bound keeps the descriptors held small.
inline constexpr int OwnTreeMaxDepth = 64;

// The folder that holds `path`, reached by its path, and the last name.
struct Location {
    base::UniqueFd parent;
    std::string name;
};
Result<Location> locate(const Path& path);

// The names in the folder open at `folder`, without "." and "..", sorted.
Result<std::vector<std::string>> entryNames(int folder, const Path& shown);

// Removes `path` and everything below it, by descriptor (base/tree_removal.h):
// a link is removed, never followed; only the current user's folders are
// entered, each first made the owner's to read, write and enter and closed
// to writing by anyone else (a copy of a read-only image can hold folders
// nobody may write). A folder of anyone else's, or an item more than
// OwnTreeMaxDepth names below `path`, stops the removal with what was
// removed so far gone.
Result<void> removeOwnTree(const Path& path);
// The same for the entry `name` of the folder open at `folder`; `shown`
// names it in messages.
Result<void> removeOwnTreeAt(int folder, const std::string& name, const Path& shown);

// Whether the item is a folder itself, not a link to one, of the current user.
bool isOwnFolder(const Path& path);

}  // namespace orbitreel
