#pragma once
// Where the build put the programs these tests run.

#include "platform/files.h"

namespace orbitreel::test_support {

inline Path probeToolPath() { return ORBITREEL_TEST_PROBE_TOOL; }

#ifdef ORBITREEL_TEST_HELPERS_DIR
// The stand-ins for hdiutil, codesign and ditto; the release tool and the
// demo application it packs.
inline Path helpersDir() { return ORBITREEL_TEST_HELPERS_DIR; }
inline Path releaseToolPath() { return ORBITREEL_TEST_RELEASE_TOOL; }
inline Path demoAppBinaryPath() { return ORBITREEL_TEST_DEMO_APP; }
#endif

}  // namespace orbitreel::test_support
