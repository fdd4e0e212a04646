// From the button to the launched application with a 1 GiB image, beside the
// same work done by standard tools in the same run: curl -o, openssl dgst
// -sha256, bsdtar -xf, cp -a. Target: the installer within 0.8 x their sum.
// The tools run once before and once after the installer, and the installer
// is compared with the mean of the two: on this virtual machine, writing into
// memory freed a moment ago costs a fraction of writing into fresh memory,
// so whichever side runs second after a clean-up would have the edge.
// Then the peak memory of the installer, of each stand-in and of each
// standard tool over the run, watched from outside (see peak_watch.h).
//
//   bench_e2e [--mib N] [--keep]     (default 1024 MiB; --keep leaves the files)

#include <cstdio>
#include <iomanip>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "bench/e2e/peak_watch.h"
#include "stage/bundle_check.h"
#include "stage/release_builder.h"
#include "stage/sandbox.h"
#include "stage/scene.h"
#include "stage/waiting.h"

namespace fs = std::filesystem;
using namespace orbitreel::stage;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

struct Stage {
    std::string name;
    double seconds = 0;
};

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Runs a standard tool to its end; its time.
double timed(const std::string& program, std::vector<std::string> arguments, const fs::path& output) {
    ProgramLaunch launch;
    launch.program = findProgram(program);
    if (launch.program.empty()) throw std::runtime_error(program + " is not installed");
    launch.arguments = std::move(arguments);
    launch.output = output;
    const auto start = Clock::now();
    ChildProcess tool(launch);
    auto status = tool.waitFor(std::chrono::hours(1));
    const double seconds = secondsSince(start);
    if (!status || *status != 0) throw std::runtime_error(program + " failed:\n" + readWholeFile(output));
    return seconds;
}

bool anyNamed(const fs::path& folder, const std::string& prefix) {
    std::error_code error;
    for (auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
    return false;
}

void printStages(const std::string& title, const std::vector<Stage>& stages, double total) {
    std::cout << title << "\n";
    for (auto& stage : stages)
        std::cout << "  " << std::left << std::setw(44) << stage.name << std::right << std::fixed
                  << std::setprecision(2) << std::setw(8) << stage.seconds << " s  " << std::setw(5)
                  << std::setprecision(1) << (total > 0 ? 100 * stage.seconds / total : 0) << " %\n";
    std::cout << "  " << std::left << std::setw(44) << "total" << std::right << std::fixed << std::setprecision(2)
              << std::setw(8) << total << " s\n";
}

void printPeaks(const std::map<std::string, orbitreel::bench::PeakWatch::Peak>& peaks) {
    std::cout << "peak resident memory (VmHWM of /proc/<pid>/status, read every "
              << orbitreel::bench::PeakWatch::Period.count() << " ms; the highest of the runs seen):\n";
    const std::pair<const char*, const char*> rows[] = {
        {"OrbitreelInstaller", ""}, {"hdiutil", "stand-in"}, {"codesign", "stand-in"}, {"ditto", "stand-in"},
        {"curl", "standard"},       {"openssl", "standard"}, {"bsdtar", "standard"},   {"cp", "standard"},
    };
    long standIns = 0;
    for (auto& [name, kind] : rows) {
        const auto found = peaks.find(name);
        const auto peak = found == peaks.end() ? orbitreel::bench::PeakWatch::Peak{} : found->second;
        std::cout << "  " << std::left << std::setw(20) << name << std::setw(10) << kind << std::right << std::fixed
                  << std::setprecision(1) << std::setw(8) << static_cast<double>(peak.kib) / 1024 << " MiB  "
                  << peak.runs << " run(s) seen\n";
        if (std::string(kind) == "stand-in") standIns = std::max(standIns, peak.kib);
    }
    std::cout << "largest stand-in: " << std::setprecision(1) << static_cast<double>(standIns) / 1024
              << " MiB (target: at most 16) " << (standIns <= 16 * 1024 ? "MET" : "NOT MET") << "\n";
}

// The standard tools, through the same release host and trust; their copies
// are removed afterwards, as they would only take room from the other runs.
std::vector<Stage> runStandardTools(const fs::path& base, const ReleaseInfo& release) {
    fs::create_directories(base / "extracted");
    fs::create_directories(base / "Applications");
    const fs::path image = base / "image.dmg";
    std::vector<Stage> stages;
    stages.push_back(
        {"curl -o", timed("curl", {"-sS", "--fail", "-o", image.string(), release.url}, base / "curl.txt")});
    stages.push_back({"openssl dgst -sha256",
                      timed("openssl", {"dgst", "-sha256", "-out", (base / "digest.txt").string(), image.string()},
                            base / "openssl.txt")});
    if (readWholeFile(base / "digest.txt").find(release.sha256) == std::string::npos)
        throw std::runtime_error("the downloaded image's digest differs from the manifest's");
    stages.push_back({"bsdtar -xf", timed("bsdtar", {"-xf", image.string(), "-C", (base / "extracted").string()},
                                          base / "bsdtar.txt")});
    stages.push_back({"cp -a", timed("cp",
                                     {"-a", (base / "extracted/Orbitreel.app").string(),
                                      (base / "Applications/Orbitreel.app").string()},
                                     base / "cp.txt")});
    fs::remove_all(base);
    return stages;
}

// Stage by stage, the mean of two runs of the standard tools.
std::vector<Stage> meanOf(const std::vector<Stage>& first, const std::vector<Stage>& second) {
    std::vector<Stage> mean = first;
    for (std::size_t i = 0; i < mean.size(); ++i) mean[i].seconds = (first[i].seconds + second[i].seconds) / 2;
    return mean;
}

double totalOf(const std::vector<Stage>& stages) {
    double total = 0;
    for (auto& stage : stages) total += stage.seconds;
    return total;
}

int run(std::uint64_t mebibytes, bool keep) {
    const fs::path work = BENCH_E2E_WORK;
    fs::remove_all(work);
    fs::create_directories(work);
    const std::uint64_t imageTarget = mebibytes * 1024 * 1024;
    std::cout << "making a release of about " << mebibytes << " MiB…" << std::endl;
    // The image holds the application and a little of its own structure.
    auto manifest = makeRelease({work / "release", "1.4.2", imageTarget - 1024 * 1024, {}});
    SceneOptions options;
    options.work = work / "stage";
    options.installerBundle = installerCarrying(manifest, work / "installer");
    options.releaseImage = work / "release/Orbitreel-Mac-1.4.2.dmg";
    options.home = work / "home";
    Scene scene(options);
    const auto& release = scene.release();
    scene.serveRelease(scene.releaseImage());
    std::cout << "image: " << release.bytes << " bytes\n" << std::endl;

    orbitreel::bench::PeakWatch peakWatch(
        {"OrbitreelInstaller", "hdiutil", "codesign", "ditto", "curl", "openssl", "bsdtar", "cp"});

    const fs::path base = work / "baseline";
    const auto toolsBefore = runStandardTools(base, release);
    // The installer, from the press to Orbitreel's first log line, with the
    // moments a look at the disk can tell apart.
    const auto& home = scene.home();
    scene.openInstaller();
    const auto pressed = Clock::now();
    scene.pressButton();
    std::vector<std::pair<std::string, std::function<bool()>>> marks = {
        {"download (to application.dmg in the cache)", [&] { return fs::exists(home.cachedImage()); }},
        {"size and digest check", [&] { return anyNamed(home.cacheFolder(), "mount-"); }},
        {"image check, attach, signature on the image", [&] { return !home.hiddenCopies().empty(); }},
        {"copy, signature on the copy, swap",
         [&] { return fs::exists(home.installedApp()) && home.hiddenCopies().empty(); }},
        {"launch (to Orbitreel's first log line)", [&] { return home.applicationStarts() > 0; }},
    };
    std::vector<Stage> installer;
    auto last = pressed;
    for (auto& [name, reached] : marks) {
        if (!waitUntil([&] { return reached() || !home.errorEntries().empty(); }, 1h, 1ms) ||
            !home.errorEntries().empty())
            throw std::runtime_error("the installer failed: " + (home.errorEntries().empty()
                                                                     ? std::string("timeout")
                                                                     : home.errorEntries().back()));
        const auto now = Clock::now();
        installer.push_back({name, std::chrono::duration<double>(now - last).count()});
        last = now;
    }
    const double installerTotal = secondsSince(pressed);
    const auto toolsAfter = runStandardTools(base, release);
    const auto peaks = peakWatch.stop();
    const std::string problem = bundleProblem(home.installedApp(), release.version);

    const auto baseline = meanOf(toolsBefore, toolsAfter);
    const double baselineTotal = totalOf(baseline);
    const double megabytes = static_cast<double>(release.bytes) / 1e6;
    printStages("standard tools before the installer (same image, same release host):", toolsBefore,
                totalOf(toolsBefore));
    std::cout << "\n";
    printStages("standard tools after the installer:", toolsAfter, totalOf(toolsAfter));
    std::cout << "\n";
    printStages("standard tools, mean of the two runs:", baseline, baselineTotal);
    std::cout << "\n";
    printStages("installer, from the button to the launched application:", installer, installerTotal);
    std::cout << "\n"
              << std::fixed << std::setprecision(1) << "download throughput: curl " << megabytes / baseline[0].seconds
              << " MB/s, installer " << megabytes / installer[0].seconds << " MB/s\n"
              << std::setprecision(2) << "installer / standard tools: " << installerTotal / baselineTotal
              << " (target: at most 0.80) " << (installerTotal <= 0.8 * baselineTotal ? "MET" : "NOT MET")
              << "; against each run alone: " << installerTotal / totalOf(toolsBefore) << " before, "
              << installerTotal / totalOf(toolsAfter) << " after\n"
              << "installed application: " << (problem.empty() ? "whole" : problem) << "\n\n";
    // The first four stages each do what one standard tool does.
    std::cout << "each stage beside its peer (installer / mean of the tool's two runs):\n";
    for (std::size_t i = 0; i < baseline.size(); ++i)
        std::cout << "  " << std::left << std::setw(46) << installer[i].name << std::setw(22) << baseline[i].name
                  << std::right << std::fixed << std::setprecision(2) << std::setw(6)
                  << installer[i].seconds / baseline[i].seconds << "\n";
    std::cout << "\n";
    printPeaks(peaks);
    std::cout << std::flush;

    stopOrbitreel();
    if (!keep) fs::remove_all(work);
    return problem.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t mebibytes = 1024;
    bool keep = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--mib" && i + 1 < argc) mebibytes = std::stoull(argv[++i]);
        else if (arg == "--keep") keep = true;
        else {
            std::cerr << "usage: bench_e2e [--mib N] [--keep]\n";
            return 2;
        }
    }
    if (mebibytes < 2) mebibytes = 2;
    auto entry = enterSandbox(SandboxOptions{.privateTmp = true});
    if (!entry.inside) {
        std::cerr << "bench_e2e: needs network, mount and process namespaces of its own (root, or unprivileged user "
                     "namespaces): "
                  << entry.refusal << "\n";
        return 3;
    }
    stopOnSignals();
    try {
        return run(mebibytes, keep);
    } catch (const std::exception& error) {
        std::cerr << "bench_e2e: " << error.what() << "\n";
        return 1;
    }
}
