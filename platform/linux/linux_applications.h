#pragma once
// Running applications and the workspace on Linux. A process belongs to a
// bundle when its executable lies in the bundle's Contents/MacOS folder.

#include <memory>

#include "platform/applications.h"
#include "platform/bundles.h"
#include "platform/queues.h"

namespace orbitreel {

// Reads Info.plist files through `bundles`, which must outlive it.
std::unique_ptr<RunningApplications> makeLinuxRunningApplications(Bundles& bundles);
// Starts applications as background jobs on `queues`, which must outlive it.
std::unique_ptr<Workspace> makeLinuxWorkspace(Queues& queues);

}  // namespace orbitreel
