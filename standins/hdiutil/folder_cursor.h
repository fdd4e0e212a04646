#pragma once
// Opens folders below a root one name at a time, never following a link, and
// keeps the chain it opened last: entries come folder by folder, so most of
// them need no new descriptor. Holds one descriptor per level at most.

#include <string>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "standins/common/failure.h"
#include "standins/common/relative_path.h"

namespace orbitreel::standins {

class FolderCursor {
public:
    explicit FolderCursor(int rootFd) : root_(rootFd) {}

    // The folder named by the first `count` components of `path` (the root
    // for none); fails when one of them is a link or no folder. The
    // descriptor stays valid until the next call.
    Result<int> open(const PathComponents& path, std::size_t count);

private:
    int root_;
    std::vector<std::pair<std::string, base::UniqueFd>> chain_;
};

}  // namespace orbitreel::standins
