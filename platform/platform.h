#pragma once
// The seam to the operating system: every service the logic uses, bundled.
// The logic reaches the system only through a Platform it is handed.

#include "platform/applications.h"
#include "platform/bundles.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/hashing.h"
#include "platform/processes.h"
#include "platform/queues.h"
#include "platform/url_session.h"

namespace orbitreel {

// Fixed locations that differ per platform: the system tools and the system
// Applications folder.
struct SystemLocations {
    Path hdiutil;
    Path codesign;
    Path ditto;
    Path systemApplications;  // "/Applications"
};

struct Platform {
    Files* files = nullptr;
    Environment* environment = nullptr;
    Bundles* bundles = nullptr;
    Processes* processes = nullptr;
    RunningApplications* runningApplications = nullptr;
    Workspace* workspace = nullptr;
    Queues* queues = nullptr;
    Hashing* hashing = nullptr;
    UrlSessions* urlSessions = nullptr;
    SystemLocations locations;
};

}  // namespace orbitreel
