#pragma once
// Whether a link stays inside a tree (an attached image, a signed bundle).

#include <string_view>

#include "helpers/outcome.h"
#include "helpers/relative_path.h"

namespace orbitreel::helpers {

// Resolves `target` of the link at `linkPath` (below the tree `rootFd`) the
// way the system would, following the links it meets inside the tree, and
// fails when the resolution leaves the tree: an absolute target, ".." above
// the root, directly or through another link, or a loop of links. Components
// that do not exist are taken as written.
Outcome<void> checkLinkStaysInside(int rootFd, const PathComponents& linkPath, std::string_view target);

}  // namespace orbitreel::helpers
