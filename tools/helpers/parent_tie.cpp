#include "tools/helpers/parent_tie.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

namespace orbitreel::helpers {

namespace {

// The installer names itself in the environment it starts a tool with; a
// tool started by hand has only the parent it finds at start.
pid_t expectedParent() {
    const char* named = std::getenv(ParentVariable);
    if (named != nullptr) {
        char* end = nullptr;
        const long pid = std::strtol(named, &end, 10);
        if (end != named && *end == '\0' && pid > 0) return static_cast<pid_t>(pid);
    }
    return ::getppid();
}

}  // namespace

Outcome<void> tieToParent() {
    // The signal comes when the parent *thread* ends. The installer starts a
    // tool from its background thread and blocks there in waitpid until the
    // tool has ended, so that thread outlives the tool unless the installer dies.
    const pid_t parent = expectedParent();
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return failure(posixMessage("cannot tie to the parent", errno));
    // A parent that died before the request, even before this program's main
    // (while the loader was at work), shows here as another parent.
    if (::getppid() != parent) return failure("the process that started this tool has ended");
    return {};
}

}  // namespace orbitreel::helpers
