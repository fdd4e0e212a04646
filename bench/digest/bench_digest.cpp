// Hashes one file (1 GiB by default, made on the fly and left in the page
// cache) with `digest`, `openssl dgst -sha256` and `sha256sum` in the same run,
// and prints the throughput of each, the ratios, and the peak memory that
// `digest` adds (measured in a child process, for two file sizes).
//
// Usage: bench_digest [MiB] [folder]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "core/digest.h"
#include "platform/linux/linux_files.h"
#include "platform/linux/openssl_hashing.h"

namespace {

using Clock = std::chrono::steady_clock;
using orbitreel::Path;

long statusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::strtol(line.c_str() + std::string(field).size(), nullptr, 10);
    return -1;
}

void makeFile(const Path& file, long mib) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    std::vector<char> block(1 << 20);
    for (long i = 0; i < mib; ++i) {
        for (std::size_t k = 0; k < block.size(); k += 64) block[k] = static_cast<char>(i + k);
        out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
}

double secondsOf(const std::string& command) {
    auto start = Clock::now();
    if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct DigestRun {
    double seconds = 0;
    long addedPeakKiB = 0;
    std::string text;
};

// Runs `digest` in a child so its peak memory is its own.
DigestRun digestInChild(const Path& file) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) std::exit(1);
    pid_t pid = ::fork();
    if (pid == 0) {
        auto files = orbitreel::makeLinuxFiles();
        auto hashing = orbitreel::makeOpenSslHashing();
        long before = statusKiB("VmHWM:");
        auto start = Clock::now();
        auto text = orbitreel::digest(*files, *hashing, file);
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        long after = statusKiB("VmHWM:");
        std::string line = std::to_string(seconds) + " " + std::to_string(after - before) + " " +
                           (text ? *text : "error:" + text.error().localizedDescription());
        if (::write(pipeFds[1], line.data(), line.size()) < 0) _exit(1);
        _exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[256] = {};
    auto n = ::read(pipeFds[0], buffer, sizeof buffer - 1);
    ::close(pipeFds[0]);
    ::waitpid(pid, nullptr, 0);
    DigestRun run;
    if (n > 0) {
        char text[200] = {};
        std::sscanf(buffer, "%lf %ld %199s", &run.seconds, &run.addedPeakKiB, text);
        run.text = text;
    }
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    long mib = argc > 1 ? std::atol(argv[1]) : 1024;
    Path folder = argc > 2 ? Path(argv[2]) : Path("/tmp");
    Path file = folder / ("orbitreel-bench-digest-" + std::to_string(::getpid()));
    Path small = folder / ("orbitreel-bench-digest-small-" + std::to_string(::getpid()));
    makeFile(file, mib);
    makeFile(small, 64);
    double megabytes = static_cast<double>(mib) * 1048576.0 / 1e6;

    // Warm the page cache, then measure each tool once in turn.
    secondsOf("cat '" + file.string() + "' > /dev/null");
    auto ours = digestInChild(file);
    double openssl = secondsOf("openssl dgst -sha256 '" + file.string() + "' > /dev/null");
    double sha256sum = secondsOf("sha256sum '" + file.string() + "' > /dev/null");
    auto smallRun = digestInChild(small);

    std::printf("file: %ld MiB in %s (page cache)\n", mib, folder.c_str());
    std::printf("%-22s %10s %10s\n", "tool", "seconds", "MB/s");
    std::printf("%-22s %10.3f %10.1f\n", "digest", ours.seconds, megabytes / ours.seconds);
    std::printf("%-22s %10.3f %10.1f\n", "openssl dgst -sha256", openssl, megabytes / openssl);
    std::printf("%-22s %10.3f %10.1f\n", "sha256sum", sha256sum, megabytes / sha256sum);
    std::printf("ratio digest / openssl dgst: %.2f (target >= 1.10)\n", openssl / ours.seconds);
    std::printf("ratio digest / sha256sum:    %.2f\n", sha256sum / ours.seconds);
    std::printf("peak memory added by digest: %ld KiB for %ld MiB, %ld KiB for 64 MiB (one chunk is 1024 KiB)\n",
                ours.addedPeakKiB, mib, smallRun.addedPeakKiB);
    std::printf("digest: %s\n", ours.text.c_str());
    std::remove(file.c_str());
    std::remove(small.c_str());
    return 0;
}
