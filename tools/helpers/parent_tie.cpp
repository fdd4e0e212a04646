#include "tools/helpers/parent_tie.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace orbitreel::helpers {

Outcome<void> tieToParent() {
    // The signal comes when the parent *thread* ends. The installer starts a
    // tool from its background thread and blocks there in waitpid until the
    // tool has ended, so that thread outlives the tool unless the installer dies.
    const pid_t parent = ::getppid();
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return failure(posixMessage("cannot tie to the parent", errno));
    if (::getppid() != parent) return failure("the process that started this tool has ended");
    return {};
}

}  // namespace orbitreel::helpers
