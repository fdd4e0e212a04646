// Downloads cut at random offsets, retried until installed: every install
// must be whole, and the retries must fetch only what is missing.

#include <algorithm>
#include <iostream>
#include <map>

#include "stage/bundle_check.h"
#include "tools/fault_campaign/campaign.h"

namespace orbitreel::campaign {

int runCutCampaign(const Settings& settings) {
    heading("cut transfers: " + std::to_string(settings.cutRuns) +
            " downloads, each cut at random offsets and "
            "retried until installed");
    const fs::path work = settings.work / "cuts";
    stage::SceneOptions options;
    options.work = work;
    options.installerBundle = ORBITREEL_STAGE_BUNDLE;
    options.home = work / "home-0";
    stage::Scene scene(options);
    const auto size = static_cast<std::uint64_t>(scene.release().bytes);
    const std::string path = stage::pathOfUrl(scene.release().url);
    scene.serveRelease(scene.releaseImage());

    int correct = 0, cutsMade = 0, presses = 0, resumedRequests = 0, restartedRequests = 0, failedRuns = 0;
    std::uint64_t served = 0, worstRun = 0;
    std::map<std::string, int> errorTexts;
    std::vector<fs::path> leftBehind;
    for (int run = 1; run <= settings.cutRuns; ++run) {
        scene.useHome(work / ("home-" + std::to_string(run)));
        const std::uint64_t sentBefore = scene.host().bodyBytesSent();
        const size_t requestsBefore = scene.host().requests().size();
        // One to three cuts, each after a random number of body bytes of
        // the response it hits.
        const int cuts = static_cast<int>(uniform(1, 3));
        auto drive = pressUntilInstalled(scene, 10, [&](int press) {
            if (press < cuts) scene.host().fault(path, release_host::Fault::cut(uniform(0, size - 1)));
        });
        presses += drive.presses;
        for (auto& error : drive.errors) ++errorTexts[shortError(error)];
        const std::uint64_t sent = scene.host().bodyBytesSent() - sentBefore;
        served += sent;
        worstRun = std::max(worstRun, sent);
        auto requests = scene.host().requests();
        for (size_t i = requestsBefore; i < requests.size(); ++i) {
            if (requests[i].status == 206) ++resumedRequests;
            if (i > requestsBefore && requests[i].status == 200) ++restartedRequests;
        }
        cutsMade += static_cast<int>(drive.errors.size());
        const std::string problem = stage::bundleProblem(scene.home().installedApp(), scene.release().version);
        if (drive.installed && problem.empty()) {
            ++correct;
        } else {
            ++failedRuns;
            std::cout << "  run " << run << ": " << (drive.installed ? problem : "not installed after 10 presses")
                      << std::endl;
        }
        endRun(scene);
        for (auto& file : leftovers(scene.home())) leftBehind.push_back(file);
        scene.host().fault(path, release_host::Fault{});  // an unused cut does not carry over
    }

    figure("image size (bytes)", std::to_string(size));
    figure("installs whole (signature and version checked)",
           std::to_string(correct) + " / " + std::to_string(settings.cutRuns));
    figure("failures shown (cuts that hit)", std::to_string(cutsMade));
    figure("presses of the button", std::to_string(presses));
    figure("resumed requests (206)", std::to_string(resumedRequests));
    figure("retries that started over (200 after a cut)", std::to_string(restartedRequests));
    figure("bytes served in all / (runs x image size)",
           std::to_string(static_cast<double>(served) / (static_cast<double>(size) * settings.cutRuns)));
    figure("most bytes served in one run / image size",
           std::to_string(static_cast<double>(worstRun) / static_cast<double>(size)));
    figure("files left behind after the installs", std::to_string(leftBehind.size()));
    for (auto& file : leftBehind) std::cout << "    " << file.string() << std::endl;
    std::cout << "  failures shown, by text:" << std::endl;
    for (auto& [text, count] : errorTexts) std::cout << "    " << count << " x " << text << std::endl;
    return failedRuns == 0 ? 0 : 1;
}

}  // namespace orbitreel::campaign
