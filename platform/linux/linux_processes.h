#pragma once
// Child processes on Linux: posix_spawn with the output sent to /dev/null.

#include <memory>

#include "platform/processes.h"

namespace orbitreel {

std::unique_ptr<Processes> makeLinuxProcesses();

}  // namespace orbitreel
