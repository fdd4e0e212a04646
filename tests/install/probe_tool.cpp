// A tool for the runner's and the workspace's tests.
//
//   probe_tool record FILE STATUS [ARG...]  writes what it received to FILE
//                                            (arguments, NUL-separated, then
//                                            where its standard streams and
//                                            working folder point, and the
//                                            descriptors it was started with),
//                                            floods its output, exits with STATUS
//   probe_tool signal                       ends itself with SIGKILL
//   probe_tool                              (started as an application) writes
//                                            its pid to EXE.pid, beside the file
//                                            /proc/self/exe names, and waits
//                                            until it is terminated

#include <dirent.h>

#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

std::string linkTarget(const char* link) {
    char buffer[4096];
    const ssize_t length = readlink(link, buffer, sizeof buffer);
    return length < 0 ? std::string("?") : std::string(buffer, length);
}

// The open descriptors, in the order the kernel lists them: "0 1 2".
std::string descriptors() {
    std::string list;
    DIR* folder = opendir("/proc/self/fd");
    if (!folder) return "?";
    while (dirent* entry = readdir(folder)) {
        if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == dirfd(folder)) continue;
        list += (list.empty() ? "" : " ") + std::string(entry->d_name);
    }
    closedir(folder);
    return list;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "record" && argc >= 4) {
        const std::string inherited = descriptors();
        std::ofstream out(argv[2], std::ios::binary);
        for (int i = 4; i < argc; ++i) out << argv[i] << '\0';
        out << "\n--\n"
            << linkTarget("/proc/self/fd/0") << '\n'
            << linkTarget("/proc/self/fd/1") << '\n'
            << linkTarget("/proc/self/fd/2") << '\n'
            << linkTarget("/proc/self/cwd") << '\n'
            << inherited << '\n';
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
    // Found as an application finds its bundle.
    const std::string pidFile = linkTarget("/proc/self/exe") + ".pid";
    std::ofstream(pidFile + ".part") << getpid() << '\n';
    std::rename((pidFile + ".part").c_str(), pidFile.c_str());
    for (;;) pause();
}
