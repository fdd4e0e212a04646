// A tool for the runner's and the workspace's tests.
//
//   probe_tool record FILE STATUS [ARG...]  writes what it received to FILE
//                                            (arguments, NUL-separated, then
//                                            where its standard streams and
//                                            working folder point), floods its
//                                            output, exits with STATUS
//   probe_tool signal                       ends itself with SIGKILL
//   probe_tool                              (started as an application) writes
//                                            its pid to ARGV0.pid and waits
//                                            until it is terminated

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

std::string linkTarget(const char* link) {
    char buffer[4096];
    const ssize_t length = readlink(link, buffer, sizeof buffer);
    return length < 0 ? std::string("?") : std::string(buffer, length);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && argc >= 4) {
        std::ofstream out(argv[2], std::ios::binary);
        for (int i = 4; i < argc; ++i) out << argv[i] << '\0';
        out << "\n--\n"
            << linkTarget("/proc/self/fd/0") << '\n'
            << linkTarget("/proc/self/fd/1") << '\n'
            << linkTarget("/proc/self/fd/2") << '\n'
            << linkTarget("/proc/self/cwd") << '\n';
        out.close();
        // Far more than a pipe holds: a runner that captured output would stall.
        const std::string noise(1 << 20, 'x');
        (void)!write(STDOUT_FILENO, noise.data(), noise.size());
        (void)!write(STDERR_FILENO, noise.data(), noise.size());
        return std::atoi(argv[3]);
    }
    if (mode == "signal") {
        raise(SIGKILL);
        return 0;
    }
    const std::string pidFile = std::string(argv[0]) + ".pid";
    std::ofstream(pidFile + ".part") << getpid() << '\n';
    std::rename((pidFile + ".part").c_str(), pidFile.c_str());
    for (;;) pause();
}
