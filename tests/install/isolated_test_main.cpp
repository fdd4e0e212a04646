// Runs the tests as the first process of a PID namespace of their own, with
// its own /proc. The running-application checks then see only the copies of
// Orbitreel that these tests start, not one that another test run starts at
// the same time, and whatever these tests leave running ends with them.

#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "base/interrupted.h"

namespace {

bool enterNamespaces() { return ::unshare(CLONE_NEWPID | CLONE_NEWNS) == 0; }

bool mountOwnProc() {
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("proc", "/proc", "proc", MS_NOSUID | MS_NOEXEC | MS_NODEV, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (enterNamespaces()) {
        std::fflush(nullptr);
        const pid_t tests = ::fork();
        if (tests < 0) {
            std::perror("starting the tests");
            return 1;
        }
        if (tests > 0) {
            int status = 0;
            orbitreel::base::retryInterrupted([&] { return ::waitpid(tests, &status, 0); });
            // Nothing to tear down here, and exit-time work (a leak check
            // starts a helper process) would land in the namespace that has
            // just ended.
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
        }
        // The tests end when the runner that waits for them does.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (!mountOwnProc()) {
            std::perror("mounting a private /proc");
            return 1;
        }
    } else {
        std::fprintf(stderr, "note: no private PID namespace (needs root); running in the shared one\n");
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
