#include "stage/tool_processes.h"

#include <signal.h>

#include <sstream>

#include "stage/home_view.h"

namespace orbitreel::stage {

namespace fs = std::filesystem;

bool killPending(pid_t pid) {
    std::istringstream status(readWholeFile("/proc/" + std::to_string(pid) + "/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (!line.starts_with("SigPnd:") && !line.starts_with("ShdPnd:")) continue;
        const auto mask = std::stoull(line.substr(7), nullptr, 16);
        if (mask & (1ull << (SIGKILL - 1))) return true;
    }
    return false;
}

std::vector<ToolProcess> toolsRunning(const fs::path& helpers) {
    std::vector<ToolProcess> found;
    std::error_code error;
    for (auto& entry : fs::directory_iterator("/proc", error)) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        // A process that has ended has no executable to show.
        std::error_code linkError;
        const auto exe = fs::read_symlink(entry.path() / "exe", linkError);
        if (linkError || exe.parent_path() != helpers) continue;
        const auto pid = static_cast<pid_t>(std::stol(name));
        if (killPending(pid)) continue;
        std::string command = readWholeFile(entry.path() / "cmdline");
        for (auto& c : command)
            if (c == '\0') c = ' ';
        found.push_back({pid, command});
    }
    return found;
}

}  // namespace orbitreel::stage
