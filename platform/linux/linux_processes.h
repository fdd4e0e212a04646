#pragma once
// Child processes on Linux: posix_spawn with the output sent to /dev/null.

#include <memory>
#include <string>

#include "platform/processes.h"

namespace orbitreel {

std::unique_ptr<Processes> makeLinuxProcesses();

// A short Spanish cause for an errno of starting a program.
std::string spanishLaunchCause(int error);

}  // namespace orbitreel
