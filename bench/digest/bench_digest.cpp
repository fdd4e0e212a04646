// Hashes one file (1 GiB by default, made on the fly and left in the page
// cache) with `digest`, `openssl dgst -sha256` and `sha256sum` in the same run,
// beside the hashing limit (`openssl speed -evp sha256 -bytes 1048576`, no
// file at all), and prints the throughput of each, the ratios, and the peak
// memory that `digest` adds (measured in a child process, for two file sizes).
//
// Usage: bench_digest [MiB] [folder]

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
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

// What `openssl speed` prints for 1 MiB blocks, in MB/s; 0 when it cannot be
// read. Without -elapsed it divides by its user CPU time, with it by the wall
// clock: on a loaded machine the two differ.
double hashingLimit(bool elapsed) {
    const std::string command =
        std::string("openssl speed ") + (elapsed ? "-elapsed " : "") + "-evp sha256 -bytes 1048576 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> output(::popen(command.c_str(), "r"), ::pclose);
    if (!output) return 0;
    char line[512];
    double kilobytes = 0;
    while (std::fgets(line, sizeof line, output.get()))
        if (std::string(line).rfind("sha256 ", 0) == 0) std::sscanf(line, "sha256 %lfk", &kilobytes);
    return kilobytes / 1000;
}

// CPU time of the calling thread, which is where `digest` hashes.
double threadCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct DigestRun {
    double seconds = 0;
    double cpuSeconds = 0;
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
        double cpuStart = threadCpuSeconds();
        auto text = orbitreel::digest(*files, *hashing, file);
        double cpuSeconds = threadCpuSeconds() - cpuStart;
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        long after = statusKiB("VmHWM:");
        std::string line = std::to_string(seconds) + " " + std::to_string(cpuSeconds) + " " +
                           std::to_string(after - before) + " " +
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
        std::sscanf(buffer, "%lf %lf %ld %199s", &run.seconds, &run.cpuSeconds, &run.addedPeakKiB, text);
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

    // Warm the page cache, then measure each in turn.
    secondsOf("cat '" + file.string() + "' > /dev/null");
    auto ours = digestInChild(file);
    double limit = hashingLimit(false);
    double limitElapsed = hashingLimit(true);
    double openssl = secondsOf("openssl dgst -sha256 '" + file.string() + "' > /dev/null");
    double sha256sum = secondsOf("sha256sum '" + file.string() + "' > /dev/null");
    auto smallRun = digestInChild(small);

    // The limits hash no file: they have a rate and no time of their own.
    auto row = [&](const char* tool, double seconds, double rate) {
        if (seconds > 0) std::printf("%-36s %10.3f", tool, seconds);
        else std::printf("%-36s %10s", tool, "-");
        std::printf(" %10.1f %10.2f\n", rate, limit > 0 ? rate / limit : 0);
    };
    std::printf("file: %ld MiB in %s (page cache)\n", mib, folder.c_str());
    std::printf("%-36s %10s %10s %10s\n", "tool", "seconds", "MB/s", "/ limit");
    row("digest", ours.seconds, megabytes / ours.seconds);
    row("digest, by its hashing thread's CPU", ours.cpuSeconds, megabytes / ours.cpuSeconds);
    row("openssl dgst -sha256", openssl, megabytes / openssl);
    row("sha256sum", sha256sum, megabytes / sha256sum);
    row("limit: openssl speed (user CPU time)", 0, limit);
    row("openssl speed -elapsed (wall clock)", 0, limitElapsed);
    std::printf("ratio digest / hashing limit: %.2f (target >= 0.90)\n",
                limit > 0 ? megabytes / ours.seconds / limit : 0);
    // On a loaded machine the wall clock counts time spent waiting for a core,
    // which the limit (user CPU time) does not: compare CPU with CPU as well.
    std::printf("ratio by CPU time, digest's hashing thread / limit: %.2f\n",
                limit > 0 ? megabytes / ours.cpuSeconds / limit : 0);
    std::printf("ratio digest / openssl dgst:  %.2f\n", openssl / ours.seconds);
    std::printf("ratio digest / sha256sum:     %.2f\n", sha256sum / ours.seconds);
    std::printf("peak memory added by digest: %ld KiB for %ld MiB, %ld KiB for 64 MiB (chunks of %zu KiB)\n",
                ours.addedPeakKiB, mib, smallRun.addedPeakKiB, orbitreel::DigestChunkSize / 1024);
    std::printf("digest: %s\n", ours.text.c_str());
    std::remove(file.c_str());
    std::remove(small.c_str());
    return 0;
}
