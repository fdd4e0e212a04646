#pragma once
// Running applications and the workspace on Linux. A process belongs to a
// bundle when its executable lies in the bundle's Contents/MacOS folder.

#include <memory>

#include "platform/applications.h"
#include "platform/bundles.h"

namespace orbitreel {

// Both read Info.plist files through `bundles`, which must outlive them.
std::unique_ptr<RunningApplications> makeLinuxRunningApplications(Bundles& bundles);
std::unique_ptr<Workspace> makeLinuxWorkspace(Bundles& bundles);

}  // namespace orbitreel
