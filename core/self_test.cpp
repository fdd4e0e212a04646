#include "core/self_test.h"

#include "core/digest.h"
#include "core/release.h"
#include "core/texts.h"
#include "platform/platform.h"

namespace orbitreel {

namespace {

constexpr const char* ExpectedDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

SelfTestOutcome failed(const Error& error) { return {1, "", texts::selfTestFailed(error.diagnostic())}; }

}  // namespace

bool wantsSelfTest(const std::vector<std::string>& arguments) {
    for (const auto& argument : arguments)
        if (argument == VerifyReleaseSwitch) return true;
    return false;
}

SelfTestOutcome runSelfTest(const Platform& platform) {
    auto release = checkedRelease(platform);
    if (!release) return failed(release.error());

    // A fresh name each run, so a killed run's leftover never stands in the
    // way; anything at it was put there by someone else, and is neither
    // followed nor removed.
    Path file = platform.environment->temporaryDirectory() / platform.environment->newUuid();
    auto written = platform.files->create(file, asBytes("abc"));
    if (!written) return failed(written.error());

    auto text = digest(*platform.files, *platform.hashing, file);
    ignore(platform.files->remove(file));
    if (!text) return failed(text.error());
    if (*text != ExpectedDigest) return {1, "", ""};

    return {0, texts::selfTestPassed(release->version), ""};
}

}  // namespace orbitreel
