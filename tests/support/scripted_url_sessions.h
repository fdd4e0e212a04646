#pragma once
// A URL session the test plays: its tasks never go out, and every delegate
// call is the test's to make. It keeps what the installer asked of it (the
// configuration, the delegate, each task and how it was made) for the test
// to look at. An installer that finds its image in the cache never asks it
// for a task at all.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/url_session.h"

namespace orbitreel::test_support {

class ScriptedTask : public DownloadTask {
public:
    std::optional<std::string> url;   // when made for a URL
    std::optional<Bytes> resumeData;  // when made from resume data
    int resumed = 0;
    void resume() override { ++resumed; }
    std::optional<HttpResponse> response() const override { return std::nullopt; }

    // A cancel hands `resumeDataOnCancel` to its handler at once, from a
    // thread of its own as the session would; with `holdCancel` the handler
    // waits in `heldCancel` for the test to call, or never.
    std::optional<Bytes> resumeDataOnCancel;
    bool holdCancel = false;
    ResumeDataHandler heldCancel;
    int cancelled = 0;
    void cancelByProducingResumeData(ResumeDataHandler handler) override;
};

class ScriptedSession : public UrlSession {
public:
    std::vector<std::shared_ptr<ScriptedTask>> tasks;  // in the order they were asked for
    std::shared_ptr<DownloadTask> downloadTask(const std::string& url) override;
    std::shared_ptr<DownloadTask> downloadTaskWithResumeData(const Bytes& resumeData) override;
    std::optional<std::string> resumeDataUrl(const Bytes&) const override { return std::nullopt; }
};

class ScriptedUrlSessions : public UrlSessions {
public:
    int made = 0;
    SessionConfiguration configuration;  // the last one asked for
    SessionDelegate* delegate = nullptr;
    ScriptedSession* session = nullptr;  // the last one made, owned by whoever asked for it
    std::unique_ptr<UrlSession> makeSession(const SessionConfiguration& configuration,
                                            SessionDelegate& delegate) override;
};

}  // namespace orbitreel::test_support
