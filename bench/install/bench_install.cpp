// Installs a signed demo bundle carrying a large payload (200 MiB by default)
// with the real stand-ins and prints the time and peak memory of every tool
// run and the time of the whole install, beside, in the same run, the
// plainest way to do the same: `bsdtar -xf` of the image and `cp -a` of the
// application. Also compares the signature check's throughput with the
// streaming digest's over the same bytes.
//
// Usage: bench_install [MiB] [folder]

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/interrupted.h"
#include "core/cache_paths.h"
#include "core/digest.h"
#include "install/install.h"
#include "platform/linux/linux_applications.h"
#include "platform/linux/linux_bundles.h"
#include "platform/linux/linux_environment.h"
#include "platform/linux/linux_files.h"
#include "platform/linux/openssl_hashing.h"
#include "platform/platform.h"
#include "tests/support/home_environment.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace orbitreel;

const std::string Version = "9.9.9";

struct Run {
    std::string what;
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

// Spawns like the real runner (output to /dev/null), through a small
// program that reports the tool's own peak memory.
Run spawnAndMeasure(const Path& executable, const std::vector<std::string>& arguments) {
    Run run;
    run.what = executable.filename().string() + (arguments.empty() ? "" : " " + arguments[0]);
    if (run.what.starts_with("ditto")) run.what = "ditto";
    const std::string peakFile =
        (fs::temp_directory_path() / ("bench-install-peak-" + std::to_string(getpid()))).string();
    const std::string trampoline = ORBITREEL_BENCH_PEAK_MEMORY;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(trampoline.c_str()), const_cast<char*>(peakFile.c_str()),
                            const_cast<char*>(executable.c_str())};
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, trampoline.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        base::retryInterrupted([&] { return waitpid(child, &status, 0); });
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    }
    run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::ifstream(peakFile) >> run.peakKiB;
    fs::remove(peakFile);
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

class MeasuringProcesses : public Processes {
public:
    Result<int> run(const Path& executable, const std::vector<std::string>& arguments) override {
        runs.push_back(spawnAndMeasure(executable, arguments));
        if (runs.back().status < 0) return fail_with(PlatformError{"bench", 1, "cannot start " + executable.string()});
        return runs.back().status;
    }
    std::vector<Run> runs;
};

void check(const Run& run) {
    if (run.status != 0) {
        std::fprintf(stderr, "failed: %s (status %d)\n", run.what.c_str(), run.status);
        std::exit(1);
    }
}

// A bundle of `mib` MiB in files of 1 to 8 MiB, incompressible, like media.
std::int64_t makeDemoBundle(const Path& app, long mib) {
    fs::create_directories(app / "Contents/MacOS");
    fs::create_directories(app / "Contents/Resources");
    std::ofstream(app / "Contents/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
           "<key>CFBundleIdentifier</key><string>app.orbitreel.Orbitreel</string>\n"
           "<key>CFBundleExecutable</key><string>Orbitreel</string>\n"
           "<key>CFBundleShortVersionString</key><string>"
        << Version << "</string>\n</dict>\n</plist>\n";
    fs::copy_file("/bin/true", app / "Contents/MacOS/Orbitreel");
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block((1 << 20) / sizeof(std::uint64_t));
    std::int64_t written = 0;
    for (long file = 0; written < mib * (1 << 20); ++file) {
        std::ofstream out(app / "Contents/Resources" / ("media-" + std::to_string(file) + ".bin"), std::ios::binary);
        const long size = 1 + file % 8;
        for (long m = 0; m < size && written < mib * (1 << 20); ++m) {
            for (auto& word : block) word = random();
            out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
            written += static_cast<std::int64_t>(block.size() * 8);
        }
    }
    return written;
}

}  // namespace

int main(int argc, char** argv) {
    const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 200;
    const Path base = argc > 2 ? Path(argv[2]) : fs::temp_directory_path();
    std::string pattern = (base / "bench-install-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return 1;
    const Path work = pattern;
    const Path helpers = ORBITREEL_BENCH_HELPERS_DIR;
    const Path home = work / "home";
    const Path source = work / "source";

    std::printf("payload: %ld MiB, folder %s\n", mib, work.c_str());
    const std::int64_t payload = makeDemoBundle(source / "Orbitreel.app", mib);
    check(spawnAndMeasure(helpers / "codesign",
                          {"--sign", ORBITREEL_BENCH_SIGNING_KEY, (source / "Orbitreel.app").string()}));
    const Path image = cachedImage(home, Version);
    fs::create_directories(image.parent_path());
    const Run created = spawnAndMeasure(helpers / "hdiutil", {"create", "-srcfolder", source.string(), image.string()});
    check(created);
    std::printf("image: %jd bytes; hdiutil create %.2f s, peak %ld KiB\n\n",
                static_cast<std::intmax_t>(fs::file_size(image)), created.seconds, created.peakKiB);

    auto files = makeLinuxFiles();
    auto bundles = makeLinuxBundles();
    auto running = makeLinuxRunningApplications(*bundles);
    auto hashing = makeOpenSslHashing();
    test_support::HomeEnvironment environment(home, makeLinuxEnvironment()->temporaryDirectory());
    MeasuringProcesses processes;
    Platform platform;
    platform.files = files.get();
    platform.environment = &environment;
    platform.bundles = bundles.get();
    platform.processes = &processes;
    platform.runningApplications = running.get();
    platform.locations =
        SystemLocations{helpers / "hdiutil", helpers / "codesign", helpers / "ditto", work / "Applications"};
    Release release;
    release.version = Version;

    const auto start = Clock::now();
    auto installed = install(platform, release, Leftovers::recover);
    const double installSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!installed) {
        std::fprintf(stderr, "install failed: %s\n", installed.error().localizedDescription().c_str());
        return 1;
    }
    std::printf("%-22s %9s %11s\n", "install() step", "seconds", "peak KiB");
    double verifySeconds = 0;
    for (const auto& run : processes.runs) {
        std::printf("%-22s %9.3f %11ld\n", run.what.c_str(), run.seconds, run.peakKiB);
        if (run.what == "codesign --verify" && verifySeconds == 0) verifySeconds = run.seconds;
    }
    std::printf("%-22s %9.3f\n\n", "whole install()", installSeconds);

    const Path plain = work / "plain";
    fs::create_directories(plain / "extracted");
    fs::create_directories(plain / "Applications");
    const Run extract =
        spawnAndMeasure("/usr/bin/bsdtar", {"-xf", image.string(), "-C", (plain / "extracted").string()});
    check(extract);
    const Run copy = spawnAndMeasure("/bin/cp", {"-a", (plain / "extracted/Orbitreel.app").string(),
                                                 (plain / "Applications/Orbitreel.app").string()});
    check(copy);
    const double baseline = extract.seconds + copy.seconds;
    std::printf("baseline: bsdtar -xf %.3f s + cp -a %.3f s = %.3f s\n", extract.seconds, copy.seconds, baseline);
    std::printf("install() / baseline = %.2f (target: at most 3)\n\n", installSeconds / baseline);

    const auto digestStart = Clock::now();
    auto sum = digest(*files, *hashing, image);
    const double digestSeconds = std::chrono::duration<double>(Clock::now() - digestStart).count();
    if (!sum) return 1;
    const double digestRate = static_cast<double>(fs::file_size(image)) / digestSeconds / 1e6;
    const double verifyRate = static_cast<double>(payload) / verifySeconds / 1e6;
    std::printf(
        "digest of the image: %.0f MB/s; codesign --verify of the payload: %.0f MB/s; ratio %.2f (target: at least "
        "0.8)\n",
        digestRate, verifyRate, verifyRate / digestRate);

    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(work, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(work, ec);
    return 0;
}
