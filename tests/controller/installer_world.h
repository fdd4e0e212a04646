#pragma once
// An installer as the application runs it, downloading for real: the real
// Linux services in a temporary home, the Qt queues, and the libcurl session
// pointed at the local release host through its test configuration.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controller/installer.h"
#include "platform/platform.h"
#include "tests/platform/linux/download/download_fixture.h"
#include "tests/support/event_loop.h"
#include "tests/support/faulty_files.h"
#include "tests/support/sha256_hex.h"
#include "tests/support/test_platform.h"
#include "tests/support/text_files.h"

namespace orbitreel::test_support {

// The libcurl sessions, with the test configuration added to whatever the
// installer asks for.
class TestSessions : public UrlSessions {
public:
    TestSessions(TestPlatform& services, const TestReleaseHost& host) : services_(services), host_(host) {}
    std::unique_ptr<UrlSession> makeSession(const SessionConfiguration& configuration,
                                            SessionDelegate& delegate) override;

    std::optional<SessionConfiguration> asked;     // what the installer asked for
    std::optional<double> requestTimeoutOverride;  // a shorter one for stall tests

private:
    TestPlatform& services_;
    const TestReleaseHost& host_;
};

// Nothing runs: copies of Orbitreel that other tests start at the same time
// must not turn these runs into refusals.
class NothingRunning : public RunningApplications {
public:
    std::size_t countWithBundleIdentifier(const std::string&) override { return 0; }
};

// Remembers what it was asked to open and answers success.
class OpeningWorkspace : public Workspace {
public:
    std::vector<Path> opened;
    void openApplication(const Path& bundle, OpenHandler handler) override;
};

struct InstallerWorld {
    InstallerWorld();
    ~InstallerWorld();

    TestReleaseHost host;
    Path home;
    Path bundle;
    TestPlatform services;
    FaultyFiles files{services.realFiles()};
    NothingRunning runningApplications;
    OpeningWorkspace workspace;
    TestSessions sessions{services, host};
    Platform platform;

    // The manifest, for a release at "/downloads/Orbitreel-Mac-<version>.dmg".
    void writeManifest(std::int64_t bytes, const std::string& sha256, const std::string& version = "1.4.2");
    void writeManifestFor(const Bytes& content, const std::string& version = "1.4.2");
    static std::string releasePath(const std::string& version = "1.4.2");
    Path image(const std::string& version = "1.4.2") const;
    Path resumeData(const std::string& version = "1.4.2") const;
};

// One launched installer; tests may make a second one, as after closing the
// installer and opening it again.
struct InstallerLaunch {
    explicit InstallerLaunch(InstallerWorld& world);
    ~InstallerLaunch();
    std::unique_ptr<Installer> installer;
    int terminations = 0;

    std::string status() const;
    std::string details() const;
    std::string button() const;
    bool buttonEnabled() const;
    // Presses the button and runs the event loop until the run is no longer
    // busy; false if it never ended.
    bool pressAndWait();
};

}  // namespace orbitreel::test_support
