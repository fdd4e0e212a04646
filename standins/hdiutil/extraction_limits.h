#pragma once
// Bounds on what one image may hold. An application bundle is some hundred
// megabytes in a few thousand entries; the bounds leave wide room above that
// and stop a hostile or broken image (or a compressed one that inflates)
// from filling the disk or running for ever.

#include <cstddef>
#include <cstdint>

#include "standins/common/tree_depth.h"

namespace orbitreel::standins {

struct ExtractionLimits {
    std::uint64_t maxTotalBytes = std::uint64_t{4} << 30;  // content of all files: 4 GiB
    std::uint64_t maxEntries = 100000;                     // files, folders and links
    std::size_t maxPathBytes = 1024;                       // one entry's path, or a link's target
    std::size_t maxDepth = MaxTreeDepth;                   // names from the root
};

}  // namespace orbitreel::standins
