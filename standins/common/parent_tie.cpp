#include "standins/common/parent_tie.h"
#include "base/tool_parent.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace orbitreel::standins {

namespace {

// The installer's process id, as its tool runner names it; none when the
// tool was started some other way (by hand, by the release scripts).
std::optional<pid_t> namedInstaller() {
    const char* named = std::getenv(base::ToolParentVariable);
    if (named == nullptr) return std::nullopt;
    char* end = nullptr;
    const long pid = std::strtol(named, &end, 10);
    if (end == named || *end != '\0' || pid <= 0) return std::nullopt;
    return static_cast<pid_t>(pid);
}

std::optional<pid_t> parentOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return std::nullopt;
    const auto afterName = line.rfind(')');
    if (afterName == std::string::npos) return std::nullopt;
    std::istringstream rest(line.substr(afterName + 1));
    char state = 0;
    pid_t parent = 0;
    if (!(rest >> state >> parent)) return std::nullopt;
    return parent;
}

// Whether `ancestor` is among the processes this one descends from.
bool descendsFrom(pid_t ancestor) {
    pid_t pid = ::getppid();
    for (int depth = 0; depth < 64 && pid > 0; ++depth) {
        if (pid == ancestor) return true;
        auto parent = parentOf(pid);
        if (!parent) return false;
        pid = *parent;
    }
    return false;
}

}  // namespace

Result<void> tieToParent() {
    // The signal comes when the parent *thread* ends. The installer starts a
    // tool from its background thread and blocks there in waitpid until the
    // tool has ended, so that thread outlives the tool unless the installer dies.
    const pid_t parent = ::getppid();
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return failure("cannot tie to the parent", errno);
    if (::getppid() != parent) return failure("the process that started this tool has ended");
    // An installer that died before the request, even before this program's
    // main (while the loader was at work), left the tool to an adoptive
    // parent, whose line of ancestors no longer holds the installer. A tool
    // started through a script the installer runs still descends from it.
    if (auto installer = namedInstaller(); installer && !descendsFrom(*installer))
        return failure("the installer that started this tool has ended");
    return {};
}

}  // namespace orbitreel::standins
