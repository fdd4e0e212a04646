#pragma once
// An Installer in a test, as the application runs it: real files (behind
// FaultyFiles, which fails nothing until told to) in a temporary home, a
// bundle folder that holds the manifest, the real Linux services and Qt
// queues, a recording workspace, a running-application count the test sets,
// and a scripted URL session the test plays, unless the test brings its own
// sessions (the real ones against a local release host).
//
//     InstallerWorld world;
//     world.writeManifest(48213405, std::string(64, 'a'));
//     InstallerRun run(world);
//     run.launch();

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "controller/installer.h"
#include "platform/platform.h"
#include "tests/support/counted_applications.h"
#include "tests/support/faulty_files.h"
#include "tests/support/holding_queues.h"
#include "tests/support/recording_workspace.h"
#include "tests/support/scripted_url_sessions.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/test_platform.h"

namespace orbitreel::test_support {

struct InstallerWorld {
    struct Choices {
        // Sessions of the test's own, in place of `sessions`; they must
        // outlive the world.
        UrlSessions* sessions = nullptr;
        // Background jobs wait in `heldQueues.held` and never run.
        bool holdBackgroundJobs = false;
        // Where hdiutil, codesign and ditto lie; the bundle's
        // Contents/Helpers otherwise, as in the program.
        std::optional<Path> helpers = std::nullopt;
    };

    InstallerWorld();
    explicit InstallerWorld(const Choices& choices);
    ~InstallerWorld();
    InstallerWorld(const InstallerWorld&) = delete;
    InstallerWorld& operator=(const InstallerWorld&) = delete;

    TemporaryFolder root;
    Path home;
    Path bundle;
    TestPlatform services;
    FaultyFiles files{services.realFiles()};
    CountedApplications runningApplications;
    RecordingWorkspace workspace;
    ScriptedUrlSessions sessions;
    HoldingQueues heldQueues{services.queues()};
    Platform platform;

    // The installer's own manifest; the release lies at
    // "https://orbitreel.app" + releasePath(version).
    void writeManifest(const std::string& json);
    void writeManifest(std::int64_t bytes, const std::string& sha256, const std::string& version = "1.4.2");
    // A valid manifest for `version` describing `content`.
    void writeManifestFor(const std::string& content, const std::string& version = "1.4.2");
    void writeManifestFor(std::span<const unsigned char> content, const std::string& version = "1.4.2");
    static std::string releasePath(const std::string& version = "1.4.2");

    Path versionFolder(const std::string& version = "1.4.2") const;
    Path image(const std::string& version = "1.4.2") const;
    Path resumeData(const std::string& version = "1.4.2") const;
    // The log's lines without their timestamps.
    std::vector<std::string> logLines() const;
};

// One installer in the world, with termination, the reply to a quit request
// and the alert recorded instead of carried out. A test may make a second
// one, as after closing the installer and opening it again.
struct InstallerRun {
    explicit InstallerRun(InstallerWorld& world);
    ~InstallerRun();
    InstallerRun(const InstallerRun&) = delete;
    InstallerRun& operator=(const InstallerRun&) = delete;

    std::unique_ptr<Installer> installer;
    int terminations = 0;
    int quitReplies = 0;  // replies to a quit request answered later
    std::vector<std::string> alerts;  // "message/informative"

    // Launches it as the application does: will-finish, then did-finish.
    void launch();

    std::string status() const;
    std::string details() const;
    std::string button() const;
    bool buttonEnabled() const;
    // Presses the button and runs the event loop until the run is no longer
    // busy; false if it never ended.
    bool pressAndWait();
};

// Runs `call` on a thread marked as the URL session's queue, where the
// session makes its delegate calls, and waits for it to end.
void onSessionQueue(const std::function<void()>& call);

}  // namespace orbitreel::test_support
