#pragma once
// What the three parts of the campaign share: the random source, a run of
// the installer pressed until it has installed, and the end of a run.

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "stage/scene.h"

namespace orbitreel::campaign {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Settings {
    fs::path work;
    fs::path output;  // survives the sandbox
    std::uint64_t seed = 0;
    int cutRuns = 50;
    int killRuns = 30;
    bool fullDisk = true;
    int neighbourRuns = 10;
    // The installer the neighbour races; this build's unless given, with the
    // release image its manifest describes.
    fs::path installerBundle;
    fs::path releaseImage;
    fs::path neighbourProgram;
};

std::mt19937_64& randomSource();
std::uint64_t uniform(std::uint64_t low, std::uint64_t high);  // both included

// What a run that presses until installed saw.
struct Drive {
    bool installed = false;
    int presses = 0;
    std::vector<std::string> errors;  // each failure the installer showed
};

// Opens the installer when it is not running and presses its button (again
// after each failure, as "Reintentar"), until Orbitreel has started or
// `maxPresses` presses were made. `beforePress` runs before each press.
Drive pressUntilInstalled(stage::Scene& scene, int maxPresses, const std::function<void(int press)>& beforePress = {});

// "Listo" ends the installer; the Orbitreel it started is stopped, so the
// next run's installer finds none running.
void endRun(stage::Scene& scene);

// Files of a run left where nothing should stay once it installed: hidden
// copies in Applications, "mount-" folders and images in the cache, partial
// files of the session.
std::vector<fs::path> leftovers(const stage::HomeView& home);

std::string shortError(const std::string& error);
void heading(const std::string& title);
void figure(const std::string& name, const std::string& value);

int runCutCampaign(const Settings& settings);
int runKillCampaign(const Settings& settings);
int runFullDiskCampaign(const Settings& settings);
int runNeighbourCampaign(const Settings& settings);

}  // namespace orbitreel::campaign
