#pragma once
// A stand-in lives no longer than the installer that started it: killed with
// it, it leaves no half-written tree growing behind.

#include "standins/common/failure.h"

namespace orbitreel::standins {

// Asks the kernel to kill this process when its parent goes, then checks
// that the parent is still the one found at start and, when the installer
// named itself in base::ToolParentVariable, that the installer is still an ancestor:
// a parent that went before the request was made would not be noticed
// otherwise. Call first thing in main;
// on failure, exit non-zero at once.
Result<void> tieToParent();

}  // namespace orbitreel::standins
