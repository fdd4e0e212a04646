// The process entry: `--verify-release` runs the self-test, anything else the
// interactive installer.

#include <cstdio>
#include <string>
#include <vector>

#include "app/application.h"
#include "core/self_test.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    orbitreel::LinuxPlatform services;
    if (orbitreel::wantsSelfTest(arguments)) {
        auto outcome = orbitreel::runSelfTest(services.platform());
        if (!outcome.standardOutput.empty()) std::fputs(outcome.standardOutput.c_str(), stdout);
        // The failure line goes out in one write.
        if (!outcome.standardError.empty()) std::fputs(outcome.standardError.c_str(), stderr);
        std::fflush(stdout);
        return outcome.exitStatus;
    }
    return orbitreel::runInteractiveInstaller(argc > 0 ? argv[0] : nullptr, services.platform());
}
