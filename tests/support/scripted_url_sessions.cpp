#include "tests/support/scripted_url_sessions.h"

#include "tests/support/installer_world.h"

namespace orbitreel::test_support {

void ScriptedTask::cancelByProducingResumeData(ResumeDataHandler handler) {
    ++cancelled;
    if (holdCancel) {
        heldCancel = std::move(handler);
        return;
    }
    onSessionQueue([&] { handler(resumeDataOnCancel); });
}

std::shared_ptr<DownloadTask> ScriptedSession::downloadTask(const std::string& url) {
    auto task = std::make_shared<ScriptedTask>();
    task->url = url;
    tasks.push_back(task);
    return task;
}

std::shared_ptr<DownloadTask> ScriptedSession::downloadTaskWithResumeData(const Bytes& resumeData) {
    auto task = std::make_shared<ScriptedTask>();
    task->resumeData = resumeData;
    tasks.push_back(task);
    return task;
}

std::unique_ptr<UrlSession> ScriptedUrlSessions::makeSession(const SessionConfiguration& asked,
                                                             SessionDelegate& sessionDelegate) {
    ++made;
    configuration = asked;
    delegate = &sessionDelegate;
    auto made_session = std::make_unique<ScriptedSession>();
    session = made_session.get();
    return made_session;
}

}  // namespace orbitreel::test_support
