// Assembles the Linux implementation of every platform service.

#include "platform/linux/linux_platform.h"

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/linux/desktop_entry.h"
#include "platform/linux/download/curl_url_sessions.h"
#include "platform/linux/linux_applications.h"
#include "platform/linux/linux_bundles.h"
#include "platform/linux/linux_environment.h"
#include "platform/linux/linux_files.h"
#include "platform/linux/linux_processes.h"
#include "platform/linux/openssl_hashing.h"
#include "platform/linux/qt_queues.h"

namespace orbitreel {

namespace {

// The workspace opens only a freshly installed copy: each open also gives
// that copy a desktop entry, so the person finds it again once the installer
// is closed. The entry is written as a background job and its outcome
// dropped: it never fails an install nor changes what the window shows.
class RegisteringWorkspace final : public Workspace {
public:
    RegisteringWorkspace(std::unique_ptr<Workspace> inner, Bundles& bundles, Environment& environment, Queues& queues)
        : inner_(std::move(inner)), bundles_(bundles), environment_(environment), queues_(queues) {}

    void openApplication(const InstalledApplication& application, OpenHandler handler) override {
        registerWithDesktop(application.location);
        inner_->openApplication(application, std::move(handler));
    }

private:
    void registerWithDesktop(const Path& bundle) {
        std::error_code error;
        Path location = std::filesystem::absolute(bundle, error);
        if (error) return;
        std::optional<std::string> dataHome;
        if (const char* value = std::getenv("XDG_DATA_HOME")) dataHome = value;
        queues_.onUserInitiated([&bundles = bundles_, location = std::move(location),
                                 home = environment_.homeDirectory(), dataHome = std::move(dataHome)] {
            ignore(registerApplication(bundles, location, home, dataHome ? dataHome->c_str() : nullptr));
        });
    }

    std::unique_ptr<Workspace> inner_;
    Bundles& bundles_;
    Environment& environment_;
    Queues& queues_;
};

}  // namespace

struct LinuxPlatform::Services {
    std::unique_ptr<Files> files = makeLinuxFiles();
    std::unique_ptr<Environment> environment = makeLinuxEnvironment();
    std::unique_ptr<Bundles> bundles = makeLinuxBundles();
    std::unique_ptr<Hashing> hashing = makeOpenSslHashing();
    std::unique_ptr<Processes> processes = makeLinuxProcesses();
    std::unique_ptr<RunningApplications> runningApplications = makeLinuxRunningApplications(*bundles);
    std::unique_ptr<Queues> queues = makeQtQueues();
    std::unique_ptr<Workspace> workspace =
        std::make_unique<RegisteringWorkspace>(makeLinuxWorkspace(*queues), *bundles, *environment, *queues);
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
