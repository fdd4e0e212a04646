#pragma once
// The system-tool stand-ins running from one bundle's Contents/Helpers (under
// their own names or renamed, as wrapped tools are), as this sandbox sees them.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace orbitreel::stage {

struct ToolProcess {
    pid_t pid = -1;
    std::string commandLine;
};

// Tools already dying (a SIGKILL pending, or ended) are not counted: a tool
// killed with the installer may still be on its way out.
std::vector<ToolProcess> toolsRunning(const std::filesystem::path& helpers);

// True while a SIGKILL waits to be taken by the process.
bool killPending(pid_t pid);

}  // namespace orbitreel::stage
