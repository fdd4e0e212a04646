// The fault campaign: many runs of the unmodified installer under random
// faults, each judged by what the user would find, with the figures printed.
//
//   fault_campaign [--seed N] [--cuts N] [--kills N] [--no-full-disk] [--neighbour N]
//                  [--bundle INSTALLER.app --release-image IMAGE] [--only cuts|kills|full-disk|neighbour]
//
// Needs root (or unprivileged user namespaces) and Xvfb, like the demo.

#include <filesystem>
#include <iostream>
#include <random>
#include <string>

#include "stage/sandbox.h"
#include "stage/waiting.h"
#include "tools/fault_campaign/campaign.h"

using namespace orbitreel;

int main(int argc, char** argv) {
    campaign::Settings settings;
    settings.seed = std::random_device{}();
    std::string only;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        auto next = [&] { return i + 1 < args.size() ? args[++i] : std::string("0"); };
        if (args[i] == "--seed") settings.seed = std::stoull(next());
        else if (args[i] == "--cuts") settings.cutRuns = std::stoi(next());
        else if (args[i] == "--kills") settings.killRuns = std::stoi(next());
        else if (args[i] == "--no-full-disk") settings.fullDisk = false;
        else if (args[i] == "--neighbour") settings.neighbourRuns = std::stoi(next());
        else if (args[i] == "--bundle") settings.installerBundle = next();
        else if (args[i] == "--release-image") settings.releaseImage = next();
        else if (args[i] == "--only") only = next();
        else {
            std::cerr << "usage: fault_campaign [--seed N] [--cuts N] [--kills N] [--no-full-disk] [--neighbour N]\n"
                         "                      [--bundle INSTALLER.app --release-image IMAGE]\n"
                         "                      [--only cuts|kills|full-disk|neighbour]\n";
            return 2;
        }
    }
    auto entry = stage::enterSandbox(stage::SandboxOptions{.privateTmp = true, .systemApplications = true});
    if (!entry.inside) {
        std::cerr << "fault_campaign: needs network, mount and process namespaces of its own (root, or "
                     "unprivileged user namespaces): "
                  << entry.refusal << "\n";
        return 3;
    }
    stage::stopOnSignals();
    campaign::randomSource().seed(settings.seed);
    settings.work = "/tmp/fault-campaign";
    settings.output = FAULT_CAMPAIGN_OUTPUT;
    settings.neighbourProgram = FAULT_CAMPAIGN_NEIGHBOUR;
    if (settings.installerBundle.empty()) settings.installerBundle = ORBITREEL_STAGE_BUNDLE;
    std::filesystem::create_directories(settings.output);
    std::cout << "fault campaign, seed " << settings.seed << " (give --seed to repeat it)" << std::endl;

    int status = 0;
    try {
        if ((only.empty() || only == "cuts") && settings.cutRuns > 0) status |= campaign::runCutCampaign(settings);
        if ((only.empty() || only == "kills") && settings.killRuns > 0) status |= campaign::runKillCampaign(settings);
        if ((only.empty() || only == "full-disk") && settings.fullDisk)
            status |= campaign::runFullDiskCampaign(settings);
        if ((only.empty() || only == "neighbour") && settings.neighbourRuns > 0)
            status |= campaign::runNeighbourCampaign(settings);
    } catch (const std::exception& error) {
        std::cerr << "fault_campaign: " << error.what() << "\n";
        return 1;
    }
    std::cout << "\nfault campaign "
              << (status == 0 ? "finished: every run ended installed and whole"
                              : "finished with runs that did not end well (see above)")
              << std::endl;
    return status;
}
