#pragma once
// The controller's world in a test: real files in a temporary home, a bundle
// folder holding the manifest, the real Linux services where they can be
// driven, the Qt queues, a recording workspace and a scripted URL session
// the test plays.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "controller/installer.h"
#include "platform/platform.h"
#include "tests/support/event_loop.h"
#include "tests/support/sha256_hex.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/test_platform.h"
#include "tests/support/text_files.h"

namespace orbitreel::test_support {

class ScriptedTask : public DownloadTask {
public:
    std::optional<std::string> url;
    std::optional<Bytes> resumeData;
    int resumed = 0;
    void resume() override { ++resumed; }
    std::optional<HttpResponse> response() const override { return std::nullopt; }
};

class ScriptedSession : public UrlSession {
public:
    std::vector<std::shared_ptr<ScriptedTask>> tasks;
    std::shared_ptr<DownloadTask> downloadTask(const std::string& url) override;
    std::shared_ptr<DownloadTask> downloadTaskWithResumeData(const Bytes& resumeData) override;
    std::optional<std::string> resumeDataUrl(const Bytes&) const override { return std::nullopt; }
};

class ScriptedUrlSessions : public UrlSessions {
public:
    int made = 0;
    SessionConfiguration configuration;
    SessionDelegate* delegate = nullptr;
    ScriptedSession* session = nullptr;  // owned by whoever asked for it
    std::unique_ptr<UrlSession> makeSession(const SessionConfiguration& configuration,
                                            SessionDelegate& delegate) override;
};

// Records what it is asked to open; answers with `failure` when set, else
// succeeds. Answers arrive on a thread of their own, as the system's would.
class RecordingWorkspace : public Workspace {
public:
    ~RecordingWorkspace() override;
    std::vector<Path> opened;
    std::optional<Error> failure;
    void openApplication(const Path& bundle, OpenHandler handler) override;

private:
    std::vector<std::thread> answers_;
};

struct AppWorld {
    AppWorld();
    ~AppWorld();

    TemporaryFolder root;
    Path home;
    Path bundle;
    RecordingWorkspace workspace;
    ScriptedUrlSessions sessions;
    TestPlatform services;
    Platform platform;
    RunningApplications* runningApplications = nullptr;  // the real ones

    // The installer's own manifest.
    void writeManifest(const std::string& json);
    void writeManifestWith(std::int64_t bytes, const std::string& sha256, const std::string& version = "1.4.2");
    // A valid manifest for `version` describing `content`.
    void writeManifestFor(const std::string& content, const std::string& version = "1.4.2");
    Path versionFolder(const std::string& version = "1.4.2") const;
    Path image(const std::string& version = "1.4.2") const;
    // The log's lines without their timestamps.
    std::vector<std::string> logLines() const;
};

// An installer as the application would run it, with termination and the
// alert recorded instead of carried out.
struct AppLaunch {
    explicit AppLaunch(AppWorld& world);
    ~AppLaunch();
    std::unique_ptr<Installer> installer;
    int terminations = 0;
    std::vector<std::string> alerts;
    // Launches it as the application does: will-finish, then did-finish.
    void launch();
};

}  // namespace orbitreel::test_support
