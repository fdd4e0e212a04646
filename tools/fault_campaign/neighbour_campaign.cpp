// A neighbour on a shared machine: before each run of the installer another
// user plants chains of folders at the names of its hidden copies in the
// shared /Applications (their own, and, as a killed run of the person's could
// leave them, the person's own open to the group), and races every walk into
// them, swapping the deepest folder for a link to the person's home. A run
// counts when anything the person had in their home changed mode, owner or
// content.

#include <unistd.h>

#include <fstream>
#include <iostream>

#include "stage/shared_machine.h"
#include "stage/waiting.h"
#include "tools/fault_campaign/campaign.h"

namespace orbitreel::campaign {

namespace {

// The neighbour's chains deep enough that each walk by path takes a while.
constexpr int NeighbourChains = 30;
constexpr int NeighbourDepth = 900;
constexpr int PersonChains = 2;
constexpr int PersonDepth = 60;

void writePersonalFiles(const fs::path& home) {
    fs::create_directories(home / ".ssh");
    std::ofstream(home / ".bashrc") << "mine\n";
    std::ofstream(home / ".ssh/id") << "secret\n";
    fs::permissions(home / ".ssh/id", fs::perms(0600));
    stage::handOver(home, stage::Person);
}

std::vector<std::string> changedItems(const std::map<std::string, std::string>& before,
                                      const std::map<std::string, std::string>& after) {
    std::vector<std::string> changed;
    for (const auto& [item, description] : before) {
        auto now = after.find(item);
        if (now == after.end() || now->second != description) changed.push_back(item);
    }
    return changed;
}

}  // namespace

int runNeighbourCampaign(const Settings& settings) {
    heading("a neighbour racing the walks into the shared /Applications (" + std::to_string(settings.neighbourRuns) +
            " runs, " + settings.installerBundle.string() + ")");
    const fs::path work = settings.work / "neighbour";
    fs::create_directories(work);
    // Users exist here by number only; a user namespace maps just one.
    if (::geteuid() != 0 || ::lchown(work.c_str(), stage::Neighbour.uid, stage::Neighbour.gid) != 0) {
        std::cout << "  skipped: two more users need root outside a user namespace" << std::endl;
        return 0;
    }
    stage::shareSystemApplications();
    stage::SceneOptions options;
    options.work = work / "stage";
    options.installerBundle = settings.installerBundle;
    options.releaseImage = settings.releaseImage;
    options.home = work / "home-0";
    options.user = stage::Person;
    stage::Scene scene(options);
    scene.serveRelease(scene.releaseImage());

    int changedRuns = 0, installedRuns = 0, bursts = 0;
    for (int run = 1; run <= settings.neighbourRuns; ++run) {
        const fs::path home = work / ("home-" + std::to_string(run));
        scene.useHome(home);
        writePersonalFiles(home);
        const auto raced = stage::plantRaces(home, NeighbourChains, NeighbourDepth, PersonChains, PersonDepth);
        const fs::path output = work / ("neighbour-" + std::to_string(run) + ".txt");
        auto neighbour = stage::startNeighbour(settings.neighbourProgram, raced, output);
        const auto before = stage::itemsWithOwners(home);

        const Drive drive = pressUntilInstalled(scene, 1);
        neighbour.stop();
        endRun(scene);
        installedRuns += drive.installed ? 1 : 0;
        bursts += stage::neighbourBursts(output);
        const auto changed = changedItems(before, stage::itemsWithOwners(home));
        if (!changed.empty()) {
            ++changedRuns;
            std::cout << "  run " << run << ": changed in the person's home:";
            for (const auto& item : changed) std::cout << " " << item;
            std::cout << std::endl;
        }
        for (const auto& entry : fs::directory_iterator("/Applications")) fs::remove_all(entry.path());
    }
    figure("runs that changed the person's files",
           std::to_string(changedRuns) + " of " + std::to_string(settings.neighbourRuns));
    figure("runs that installed", std::to_string(installedRuns) + " of " + std::to_string(settings.neighbourRuns));
    figure("swapping bursts of the neighbour", std::to_string(bursts));
    return changedRuns == 0 ? 0 : 1;
}

}  // namespace orbitreel::campaign
