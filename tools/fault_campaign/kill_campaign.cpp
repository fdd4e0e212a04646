// The installer killed (SIGKILL) at a random moment of the download, the
// verification or the install, then started again until installed, over a
// home that already holds an older Orbitreel: the user must never be left
// without a whole application, nor with hidden copies.

#include <signal.h>

#include <iostream>
#include <map>

#include "stage/bundle_check.h"
#include "stage/release_builder.h"
#include "stage/target_watch.h"
#include "stage/tool_processes.h"
#include "stage/waiting.h"
#include "tools/fault_campaign/campaign.h"

namespace orbitreel::campaign {

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

enum class Phase { Download, Verification, Install, Finished };
const char* phaseName(Phase phase) {
    switch (phase) {
        case Phase::Download:
            return "download";
        case Phase::Verification:
            return "verification";
        case Phase::Install:
            return "install";
        case Phase::Finished:
            return "launch (installed)";
    }
    return "?";
}

bool anyNamed(const fs::path& folder, const std::string& prefix) {
    std::error_code error;
    for (auto& entry : fs::directory_iterator(folder, error))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) return true;
    return false;
}

// What a look at the home tells of where the installer is.
Phase observedPhase(const stage::HomeView& home, int startsBefore, const std::string& newVersion) {
    if (home.applicationStarts() > startsBefore) return Phase::Finished;
    // The new copy in place: the install is done, the launch may not be.
    const std::string plist = stage::readWholeFile(home.installedApp() / "Contents/Info.plist");
    if (plist.find("<string>" + newVersion + "</string>") != std::string::npos) return Phase::Finished;
    if (anyNamed(home.cacheFolder(), "mount-") || !home.hiddenCopies().empty()) return Phase::Install;
    if (fs::exists(home.cachedImage())) return Phase::Verification;
    return Phase::Download;
}

// The system-tool stand-ins still running (a killed installer may leave
// its running tool behind); one on its way out with the installer is not.
int toolsRunning(const fs::path& helpers) { return static_cast<int>(stage::toolsRunning(helpers).size()); }

void placeOldCopy(const fs::path& oldApp, const stage::HomeView& home) {
    fs::create_directories(home.applications());
    fs::copy(oldApp, home.installedApp(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

std::uint64_t treeBytes(const fs::path& path) {
    std::error_code error;
    if (!fs::is_directory(path, error)) return fs::is_regular_file(path, error) ? fs::file_size(path, error) : 0;
    std::uint64_t bytes = 0;
    for (auto& entry : fs::recursive_directory_iterator(path, error))
        if (entry.is_regular_file(error)) bytes += entry.file_size(error);
    return bytes;
}

struct Timeline {
    double firstByte = 0, image = 0, mount = 0, started = 0;  // ms after the press
};

}  // namespace

int runKillCampaign(const Settings& settings) {
    heading("SIGKILL: " + std::to_string(settings.killRuns) +
            " runs killed at a random moment of download, verification or install, then started again");
    const fs::path work = settings.work / "kills";
    // An image big enough that verification and install take a while, and
    // an older signed Orbitreel already installed in each home.
    auto manifest = stage::makeRelease({work / "release", "1.4.2", 24'000'000, {}});
    stage::makeRelease({work / "old", "1.4.1", 0, {"--keep-staging"}});
    const fs::path oldApp = work / "old/staging/Orbitreel.app";

    stage::SceneOptions options;
    options.work = work;
    options.installerBundle = stage::installerCarrying(manifest, work / "installer");
    options.releaseImage = work / "release/Orbitreel-Mac-1.4.2.dmg";
    options.home = work / "home-calibration";
    stage::Scene scene(options);
    const fs::path helpers = options.installerBundle / "Contents/Helpers";
    scene.serveRelease(stage::paced(scene.releaseImage(), 1500ms));

    // One undisturbed run gives the moments at which the phases begin.
    Timeline timeline;
    {
        placeOldCopy(oldApp, scene.home());
        scene.openInstaller();
        const auto pressed = Clock::now();
        const auto sentBefore = scene.host().bodyBytesSent();
        scene.pressButton();
        auto since = [&] { return Ms(Clock::now() - pressed).count(); };
        stage::waitUntil([&] { return scene.host().bodyBytesSent() > sentBefore; }, 60s, 1ms);
        timeline.firstByte = since();
        stage::waitUntil([&] { return fs::exists(scene.home().cachedImage()); }, 60s, 1ms);
        timeline.image = since();
        stage::waitUntil([&] { return anyNamed(scene.home().cacheFolder(), "mount-"); }, 60s, 1ms);
        timeline.mount = since();
        stage::waitUntil([&] { return scene.home().applicationStarts() > 0; }, 60s, 1ms);
        timeline.started = since();
        endRun(scene);
    }
    figure("image size (bytes)", std::to_string(scene.release().bytes));
    figure("undisturbed run: first byte / image in cache / mounted / started (ms)",
           std::to_string(static_cast<int>(timeline.firstByte)) + " / " +
               std::to_string(static_cast<int>(timeline.image)) + " / " +
               std::to_string(static_cast<int>(timeline.mount)) + " / " +
               std::to_string(static_cast<int>(timeline.started)));

    std::map<std::string, int> killsByPhase, errorTexts;
    int missingAtRest = 0, brokenAtRest = 0, hiddenAfterKill = 0, hiddenAtEnd = 0, notInstalled = 0, wrongAtEnd = 0;
    int orphanTools = 0, runsWithAbsence = 0, extraPresses = 0, oldCopyInTrash = 0, oldCopyLost = 0;
    int totalAbsences = 0, leftFiles = 0, runsWithFilledMount = 0;
    std::uint64_t leftBytes = 0, mountBytes = 0;
    std::vector<std::string> notes;
    for (int run = 1; run <= settings.killRuns; ++run) {
        scene.useHome(work / ("home-" + std::to_string(run)));
        const auto& home = scene.home();
        placeOldCopy(oldApp, home);
        stage::TargetWatch watch(home.applications());

        // A random moment within the phase this run aims at: after the
        // event that begins it, a random part of its undisturbed length.
        const int aim = run % 3;
        const double from = aim == 0 ? timeline.firstByte : aim == 1 ? timeline.image : timeline.mount;
        const double to = aim == 0 ? timeline.image : aim == 1 ? timeline.mount : timeline.started;
        const double delay = (to - from) * std::uniform_real_distribution<double>(0, 1)(randomSource());
        const auto sentBefore = scene.host().bodyBytesSent();
        auto begun = [&] {
            if (aim == 0) return scene.host().bodyBytesSent() > sentBefore;
            if (aim == 1) return fs::exists(home.cachedImage());
            return anyNamed(home.cacheFolder(), "mount-");
        };

        scene.openInstaller();
        const auto pressed = Clock::now();
        scene.pressButton();
        stage::waitUntil(begun, 120s, 1ms);
        const auto begin = Clock::now();
        stage::waitUntil([&] { return Ms(Clock::now() - begin).count() >= delay; }, 120s, 1ms);
        const double killAt = Ms(Clock::now() - pressed).count();
        const Phase phase = observedPhase(home, 0, scene.release().version);
        scene.installer().signal(SIGKILL);
        (void)scene.waitForInstallerExit(10s);
        ++killsByPhase[phaseName(phase)];
        const int orphans = toolsRunning(helpers);
        orphanTools += orphans;
        // What the user finds once the orphaned tools are done.
        stage::waitUntil([&] { return toolsRunning(helpers) == 0; }, 60s, 5ms);

        const bool present = fs::exists(home.installedApp());
        std::string state;
        if (!present) {
            ++missingAtRest;
            state = "no Orbitreel.app at the target";
        } else if (!stage::bundleProblem(home.installedApp(), "1.4.1").empty() &&
                   !stage::bundleProblem(home.installedApp(), "1.4.2").empty()) {
            ++brokenAtRest;
            state = "the target fails its check";
        }
        const auto hiddenNow = home.hiddenCopies();
        if (!hiddenNow.empty()) ++hiddenAfterKill;
        // Killed after the launch: the new Orbitreel runs, and would make
        // the next installer ask the user to quit it.
        stage::stopOrbitreel();

        auto drive = pressUntilInstalled(scene, 6);
        extraPresses += drive.presses - 1;
        for (auto& error : drive.errors) ++errorTexts[shortError(error)];
        const std::string problem = stage::bundleProblem(home.installedApp(), scene.release().version);
        if (!drive.installed) ++notInstalled;
        if (!problem.empty()) ++wrongAtEnd;
        endRun(scene);
        const auto left = leftovers(home);
        if (!home.hiddenCopies().empty()) ++hiddenAtEnd;
        bool oldInTrash = false;
        for (auto& trashed : home.trashedApplications())
            if (stage::bundleProblem(trashed, "1.4.1").empty()) oldInTrash = true;
        bool oldHidden = false;
        for (auto& hidden : home.hiddenCopies())
            if (stage::bundleProblem(hidden, "1.4.1").empty()) oldHidden = true;
        if (oldInTrash) ++oldCopyInTrash;
        else if (!oldHidden) ++oldCopyLost;
        // A whole install replaces the target in one step or two; count the
        // runs in which it went away at all.
        totalAbsences += watch.absences();
        if (watch.absences() > 0) ++runsWithAbsence;

        std::string line = "run " + std::to_string(run) + ": killed " + std::to_string(static_cast<int>(killAt)) +
                           " ms after the press (aimed at " + phaseName(static_cast<Phase>(aim)) + ", found in " +
                           phaseName(phase) + "), " + std::to_string(orphans) + " tool(s) left running";
        if (!state.empty()) line += "; " + state;
        if (!hiddenNow.empty()) line += "; hidden after the kill: " + std::to_string(hiddenNow.size());
        line += "; presses to install: " + std::to_string(drive.presses);
        if (!drive.installed) line += " (NOT installed)";
        if (!problem.empty()) line += "; " + problem;
        bool filledMount = false;
        if (!left.empty()) {
            line += "; left behind:";
            for (auto& file : left) {
                const auto bytes = treeBytes(file);
                leftBytes += bytes;
                ++leftFiles;
                if (file.filename().string().starts_with("mount-") && bytes > 0) {
                    mountBytes += bytes;
                    filledMount = true;
                }
                line += " " + file.filename().string() + " (" + std::to_string(bytes) + " bytes)";
            }
        }
        if (filledMount) ++runsWithFilledMount;
        line += "; target went away " + std::to_string(watch.absences()) + " time(s)";
        line += oldInTrash  ? "; old copy in the Trash"
                : oldHidden ? "; old copy hidden in Applications"
                            : "; old copy gone";
        std::cout << "  " << line << std::endl;
    }

    for (auto& [phase, count] : killsByPhase) figure(std::string("kills found in: ") + phase, std::to_string(count));
    figure("runs with the target missing after the kill", std::to_string(missingAtRest));
    figure("runs with the target failing its check after the kill", std::to_string(brokenAtRest));
    figure("runs in which the target went away at any moment",
           std::to_string(runsWithAbsence) + " (" + std::to_string(totalAbsences) + " times)");
    figure("runs with a hidden backup or staging copy after the kill", std::to_string(hiddenAfterKill));
    figure("runs with a hidden copy left after the final install", std::to_string(hiddenAtEnd));
    figure("cache and session files left after the final install",
           std::to_string(leftFiles) + " (" + std::to_string(leftBytes) + " bytes)");
    figure("bytes left in mount folders after the final install",
           std::to_string(mountBytes) + " (" + std::to_string(runsWithFilledMount) + " runs)");
    figure("system tools left running when the installer died", std::to_string(orphanTools));
    figure("runs not installed after 6 presses", std::to_string(notInstalled));
    figure("runs ending with a target that fails its check", std::to_string(wrongAtEnd));
    figure("presses beyond the first after the restart", std::to_string(extraPresses));
    figure("runs whose old copy reached the Trash", std::to_string(oldCopyInTrash));
    figure("runs whose old copy is neither in the Trash nor kept", std::to_string(oldCopyLost));
    std::cout << "  failures shown after a restart, by text:" << std::endl;
    for (auto& [text, count] : errorTexts) std::cout << "    " << count << " x " << text << std::endl;
    return notInstalled == 0 && wrongAtEnd == 0 ? 0 : 1;
}

}  // namespace orbitreel::campaign
