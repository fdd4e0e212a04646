#pragma once
// Whether a link stays inside a tree (an image's entries, an attached image,
// a signed bundle).

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "standins/common/failure.h"
#include "standins/common/relative_path.h"

namespace orbitreel::standins {

// What a path below the tree holds as far as links go: the target when it is
// a link, nothing when it is a folder, a file or missing. The path never
// passes through a link.
using LinkLookup = std::function<Result<std::optional<std::string>>(const std::string& path)>;

// Resolves `target` of the link at `linkPath` the way the system would,
// following the links it meets inside the tree, and fails when the
// resolution leaves the tree: an absolute target, ".." above the root,
// directly or through another link, or a loop of links. Components that do
// not exist are taken as written.
Result<void> checkLinkStaysInside(const LinkLookup& lookup, const PathComponents& linkPath, std::string_view target);

// The same on the tree on disk below `rootFd`.
Result<void> checkLinkStaysInside(int rootFd, const PathComponents& linkPath, std::string_view target);

}  // namespace orbitreel::standins
