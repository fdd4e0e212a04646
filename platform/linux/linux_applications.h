#pragma once
// Running applications and the workspace on Linux. A process belongs to a
// bundle when its executable lies in the bundle's Contents/MacOS folder.

#include <memory>

#include "platform/applications.h"
#include "platform/bundles.h"
#include "platform/queues.h"

namespace orbitreel {

// Both read Info.plist files through `bundles`, which must outlive them. The
// workspace starts applications as background jobs on `queues`, which must
// outlive it; `bundles` must outlive those jobs too.
std::unique_ptr<RunningApplications> makeLinuxRunningApplications(Bundles& bundles);
std::unique_ptr<Workspace> makeLinuxWorkspace(Bundles& bundles, Queues& queues);

}  // namespace orbitreel
