#pragma once
// The interactive installer: the application object, one Installer kept for
// the life of the process, and the event loop.

#include "platform/platform.h"

namespace orbitreel {

// Runs the interactive installer until the application terminates; returns
// the process's exit status. Every argument but the program name is ignored.
int runInteractiveInstaller(char* programName, const Platform& platform);

}  // namespace orbitreel
