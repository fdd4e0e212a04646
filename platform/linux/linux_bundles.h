#pragma once

#include <memory>
#include <optional>

#include "platform/bundles.h"

namespace orbitreel {

std::unique_ptr<Bundles> makeLinuxBundles();

// Reads an XML property list's top-level dictionary; absent when the file is
// missing or not a well-formed property list.
std::optional<BundleInfo> readInfoPlist(const Path& plist);

// The bundle that holds an executable: X.app for X.app/Contents/MacOS/exe,
// otherwise the executable's own folder.
Path bundleOfExecutable(const Path& executable);

}  // namespace orbitreel
