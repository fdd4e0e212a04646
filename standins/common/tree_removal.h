#pragma once
// Emptying a folder whose content may be read-only (attach leaves it so).

#include <string>

#include "standins/common/failure.h"

namespace orbitreel::standins {

// Deletes everything inside the folder `dirFd` without following links, giving
// each subfolder back its owner's rights first, on a descriptor of that very
// folder. The folder itself stays; it must be writable. An entry named
// `except` at the top is kept. Fails on entries deeper than MaxTreeDepth
// (tree_depth.h), which no stand-in makes, so that the descriptors held stay
// bounded.
Result<void> removeContents(int dirFd, const std::string& except = {});

// The same for the entry `name` in `dirFd` and, when it is a folder,
// everything in it; the entry goes too.
Result<void> removeTree(int dirFd, const std::string& name);

}  // namespace orbitreel::standins
