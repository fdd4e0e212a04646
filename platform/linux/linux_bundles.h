#pragma once

#include <memory>
#include <optional>

#include "platform/bundles.h"

namespace orbitreel {

std::unique_ptr<Bundles> makeLinuxBundles();

// The bundle that holds an executable: X.app for X.app/Contents/MacOS/exe,
// otherwise the executable's own folder.
Path bundleOfExecutable(const Path& executable);

}  // namespace orbitreel
