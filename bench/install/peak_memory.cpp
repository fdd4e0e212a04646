// peak_memory OUT TOOL [ARG...]: runs TOOL and writes its peak resident
// memory (KiB) to OUT. A child's peak includes the memory of whoever started
// it, so the tool is started from this small program, not from the benchmark.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdio>

#include "base/interrupted.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[2], argv + 2);
        _exit(127);
    }
    if (child < 0) return 127;
    int status = 0;
    rusage usage{};
    (void)orbitreel::base::retryInterrupted([&] { return wait4(child, &status, 0, &usage); });
    if (FILE* out = std::fopen(argv[1], "w")) {
        std::fprintf(out, "%ld\n", usage.ru_maxrss);
        std::fclose(out);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
