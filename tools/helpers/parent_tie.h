#pragma once
// A stand-in lives no longer than the installer that started it: killed with
// it, it leaves no half-written tree growing behind.

#include "tools/helpers/outcome.h"

namespace orbitreel::helpers {

// Asks the kernel to kill this process when its parent goes, then checks
// that the parent is still the one it started with: one that went before the
// request was made would not be noticed otherwise. Call first thing in main;
// on failure, exit non-zero at once.
Outcome<void> tieToParent();

}  // namespace orbitreel::helpers
