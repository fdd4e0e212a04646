#include "tests/support/test_platform.h"

#include <optional>
#include <stdexcept>

#include "platform/linux/download/curl_url_sessions.h"
#include "platform/linux/linux_applications.h"
#include "platform/linux/linux_bundles.h"
#include "platform/linux/linux_environment.h"
#include "platform/linux/linux_files.h"
#include "platform/linux/linux_processes.h"
#include "platform/linux/openssl_hashing.h"
#include "platform/linux/qt_queues.h"
#include "tests/support/bundle_in_folder.h"
#include "tests/support/home_environment.h"

namespace orbitreel::test_support {

// Declared in the order they depend on one another, so that each goes after
// the services it holds on to; the queues, whose jobs use the others, go first.
struct TestPlatform::Real {
    std::optional<std::pair<Path, Path>> home;
    std::optional<Path> bundle;
    std::optional<Path> helpers;
    Path systemApplications = "/Applications";

    std::unique_ptr<Environment> environment;
    std::unique_ptr<Bundles> bundles;
    std::unique_ptr<Files> files;
    std::unique_ptr<Hashing> hashing;
    std::unique_ptr<Processes> processes;
    std::unique_ptr<RunningApplications> runningApplications;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<UrlSessions> urlSessions;
    std::unique_ptr<Queues> queues;
};

namespace {

template <class Service, class Make>
Service& once(std::unique_ptr<Service>& slot, Make make) {
    if (!slot) slot = make();
    return *slot;
}

// A choice made after a service that depends on it was made would not reach it.
void refuseIfMade(const void* made, const char* what) {
    if (made) throw std::logic_error(std::string("TestPlatform: ") + what + " comes before the services that use it");
}

}  // namespace

TestPlatform::TestPlatform() : real_(std::make_unique<Real>()) {}

TestPlatform::~TestPlatform() { stopQueues(); }

TestPlatform& TestPlatform::withHome(const Path& home, const Path& temporary) {
    refuseIfMade(real_->environment.get(), "the home");
    real_->home = std::pair(home, temporary);
    return *this;
}

TestPlatform& TestPlatform::withBundle(const Path& bundle) {
    refuseIfMade(real_->bundles.get(), "the bundle");
    real_->bundle = bundle;
    return *this;
}

TestPlatform& TestPlatform::withHelpers(const Path& folder) {
    real_->helpers = folder;
    return *this;
}

TestPlatform& TestPlatform::withSystemApplications(const Path& folder) {
    real_->systemApplications = folder;
    return *this;
}

TestPlatform& TestPlatform::withFiles(Files& files) {
    chosen_.files = &files;
    return *this;
}

TestPlatform& TestPlatform::withProcesses(Processes& processes) {
    chosen_.processes = &processes;
    return *this;
}

TestPlatform& TestPlatform::withRunningApplications(RunningApplications& running) {
    chosen_.runningApplications = &running;
    return *this;
}

TestPlatform& TestPlatform::withWorkspace(Workspace& workspace) {
    chosen_.workspace = &workspace;
    return *this;
}

TestPlatform& TestPlatform::withSession(UrlSessions& sessions) {
    chosen_.urlSessions = &sessions;
    return *this;
}

TestPlatform& TestPlatform::withQueues(Queues& queues) {
    chosen_.queues = &queues;
    return *this;
}

Environment& TestPlatform::environment() {
    return once(real_->environment, [&]() -> std::unique_ptr<Environment> {
        if (!real_->home) return makeLinuxEnvironment();
        return std::make_unique<HomeEnvironment>(real_->home->first, real_->home->second);
    });
}

Bundles& TestPlatform::bundles() {
    return once(real_->bundles, [&]() -> std::unique_ptr<Bundles> {
        if (!real_->bundle) return makeLinuxBundles();
        return std::make_unique<BundleInFolder>(*real_->bundle);
    });
}

Files& TestPlatform::realFiles() { return once(real_->files, makeLinuxFiles); }
Processes& TestPlatform::realProcesses() { return once(real_->processes, makeLinuxProcesses); }

RunningApplications& TestPlatform::realRunningApplications() {
    return once(real_->runningApplications, [&] { return makeLinuxRunningApplications(bundles()); });
}

Workspace& TestPlatform::realWorkspace() {
    return once(real_->workspace, [&] { return makeLinuxWorkspace(queues()); });
}

UrlSessions& TestPlatform::realSessions() {
    return once(real_->urlSessions, [&] { return makeCurlUrlSessions(environment()); });
}

Platform TestPlatform::build() {
    Platform platform;
    platform.files = chosen_.files ? chosen_.files : &realFiles();
    platform.environment = &environment();
    platform.bundles = &bundles();
    platform.processes = chosen_.processes ? chosen_.processes : &realProcesses();
    platform.runningApplications =
        chosen_.runningApplications ? chosen_.runningApplications : &realRunningApplications();
    platform.workspace = chosen_.workspace ? chosen_.workspace : &realWorkspace();
    platform.queues = chosen_.queues ? chosen_.queues : &queues();
    platform.hashing = &once(real_->hashing, makeOpenSslHashing);
    platform.urlSessions = chosen_.urlSessions ? chosen_.urlSessions : &realSessions();
    const Path helpers = real_->helpers.value_or(bundles().mainBundlePath() / "Contents/Helpers");
    platform.locations =
        SystemLocations{helpers / "hdiutil", helpers / "codesign", helpers / "ditto", real_->systemApplications};
    return platform;
}

Queues& TestPlatform::queues() { return once(real_->queues, makeQtQueues); }

void TestPlatform::stopQueues() { real_->queues.reset(); }

}  // namespace orbitreel::test_support
