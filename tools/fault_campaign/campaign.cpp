#include "tools/fault_campaign/campaign.h"

#include <iomanip>
#include <iostream>

#include "stage/waiting.h"

namespace orbitreel::campaign {

std::mt19937_64& randomSource() {
    static std::mt19937_64 source;
    return source;
}

std::uint64_t uniform(std::uint64_t low, std::uint64_t high) {
    return std::uniform_int_distribution<std::uint64_t>(low, high)(randomSource());
}

Drive pressUntilInstalled(stage::Scene& scene, int maxPresses, const std::function<void(int press)>& beforePress) {
    Drive drive;
    const auto& home = scene.home();
    const int startsBefore = home.applicationStarts();
    while (drive.presses < maxPresses) {
        if (!scene.installerRunning()) scene.openInstaller();
        if (beforePress) beforePress(drive.presses);
        const size_t errorsBefore = home.errorEntries().size();
        scene.pressButton();
        ++drive.presses;
        stage::waitUntil(
            [&] {
                return home.applicationStarts() > startsBefore || home.errorEntries().size() > errorsBefore ||
                       !scene.installerRunning();
            },
            5min, 5ms);
        if (home.applicationStarts() > startsBefore) {
            drive.installed = true;
            return drive;
        }
        auto errors = home.errorEntries();
        if (errors.size() > errorsBefore) drive.errors.push_back(errors.back());
        // The window needs a moment to turn its button into "Reintentar".
        (void)scene.settledPicture(2s);
    }
    return drive;
}

void endRun(stage::Scene& scene) {
    if (scene.installerRunning()) {
        scene.pressButton();
        if (!scene.waitForInstallerExit(20s)) scene.installer().stop();
    }
    stage::stopOrbitreel();
}

std::vector<fs::path> leftovers(const stage::HomeView& home) {
    std::vector<fs::path> found = home.hiddenCopies();
    std::error_code error;
    for (auto& entry : fs::directory_iterator(home.cacheFolder(), error)) found.push_back(entry.path());
    for (auto& entry : fs::directory_iterator(home.home() / "Library/Caches/OrbitreelInstaller-Session", error))
        found.push_back(entry.path());
    return found;
}

std::string shortError(const std::string& error) {
    std::string text = error;
    for (auto& c : text)
        if (c == '\n') c = '|';
    return text;
}

void heading(const std::string& title) { std::cout << "\n== " << title << std::endl; }

void figure(const std::string& name, const std::string& value) {
    std::cout << "  " << std::left << std::setw(58) << name << value << std::endl;
}

}  // namespace orbitreel::campaign
