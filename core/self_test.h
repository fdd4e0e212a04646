#pragma once
// The release-engineering self-test behind `--verify-release`.

#include <string>
#include <vector>

namespace orbitreel {

struct Platform;

inline constexpr const char* VerifyReleaseSwitch = "--verify-release";

// True when any argument, the program path included, is exactly the switch.
bool wantsSelfTest(const std::vector<std::string>& arguments);

struct SelfTestOutcome {
    int exitStatus = 1;
    std::string standardOutput;  // the pass line, or empty
    std::string standardError;   // the failure line, or empty
};

SelfTestOutcome runSelfTest(const Platform& platform);

}  // namespace orbitreel
