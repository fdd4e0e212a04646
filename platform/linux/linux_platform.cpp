// Assembles the Linux implementation of every platform service.

#include "platform/linux/linux_platform.h"

#include "platform/linux/download/curl_url_sessions.h"
#include "platform/linux/linux_applications.h"
#include "platform/linux/linux_bundles.h"
#include "platform/linux/linux_environment.h"
#include "platform/linux/linux_files.h"
#include "platform/linux/linux_processes.h"
#include "platform/linux/openssl_hashing.h"
#include "platform/linux/qt_queues.h"

namespace orbitreel {

struct LinuxPlatform::Services {
    std::unique_ptr<Files> files = makeLinuxFiles();
    std::unique_ptr<Environment> environment = makeLinuxEnvironment();
    std::unique_ptr<Bundles> bundles = makeLinuxBundles();
    std::unique_ptr<Hashing> hashing = makeOpenSslHashing();
    std::unique_ptr<Processes> processes = makeLinuxProcesses();
    std::unique_ptr<RunningApplications> runningApplications = makeLinuxRunningApplications(*bundles);
    std::unique_ptr<Queues> queues = makeQtQueues();
    std::unique_ptr<Workspace> workspace = makeLinuxWorkspace(*queues);
    std::unique_ptr<UrlSessions> urlSessions = makeCurlUrlSessions(*environment);
};

LinuxPlatform::LinuxPlatform() : services_(std::make_unique<Services>()) {
    platform_.files = services_->files.get();
    platform_.environment = services_->environment.get();
    platform_.bundles = services_->bundles.get();
    platform_.hashing = services_->hashing.get();
    platform_.processes = services_->processes.get();
    platform_.runningApplications = services_->runningApplications.get();
    platform_.workspace = services_->workspace.get();
    platform_.queues = services_->queues.get();
    platform_.urlSessions = services_->urlSessions.get();

    // The system tools are our own stand-ins inside the bundle.
    Path helpers = services_->bundles->mainBundlePath() / "Contents/Helpers";
    platform_.locations =
        SystemLocations{helpers / "hdiutil", helpers / "codesign", helpers / "ditto", "/Applications"};
}

LinuxPlatform::~LinuxPlatform() = default;

}  // namespace orbitreel
