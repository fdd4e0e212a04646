#pragma once
// A stand-in lives no longer than the installer that started it: killed with
// it, it leaves no half-written tree growing behind.

#include "standins/common/outcome.h"

namespace orbitreel::standins {

// Set by the installer's tool runner to its own process id, so that a tool
// can tell its parent from whoever adopted it after the installer died.
inline constexpr const char* ParentVariable = "ORBITREEL_TOOL_PARENT";

// Asks the kernel to kill this process when its parent goes, then checks
// that the parent is still the one found at start and, when the installer
// named itself in ParentVariable, that the installer is still an ancestor:
// a parent that went before the request was made would not be noticed
// otherwise. Call first thing in main;
// on failure, exit non-zero at once.
Outcome<void> tieToParent();

}  // namespace orbitreel::standins
