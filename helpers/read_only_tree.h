#pragma once
// Attached content is read-only, as on a mounted read-only volume: without a
// mount, removing every write bit is what keeps it from changing by accident.

#include "helpers/outcome.h"

namespace orbitreel::helpers {

// Removes the write bits of everything below `dirFd` (links are left alone)
// and then of the folder itself.
Outcome<void> removeWriteBits(int dirFd);

}  // namespace orbitreel::helpers
