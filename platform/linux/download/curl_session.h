#pragma once
// The URL session on libcurl: one worker thread per session runs every task's
// transfer (a curl multi handle) and makes every delegate call, one at a time.

#include <memory>
#include <thread>

#include "platform/linux/download/curl_task.h"
#include "platform/url_session.h"

namespace orbitreel {

class CurlSession : public UrlSession {
public:
    // `partialFolder` holds the partial downloads that resume data names.
    CurlSession(const SessionConfiguration& configuration, SessionDelegate& delegate, Path partialFolder);
    // Stops the worker; running transfers end without further delegate calls,
    // and cancels not yet carried out without their handlers.
    ~CurlSession() override;
    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    std::shared_ptr<DownloadTask> downloadTask(const std::string& url) override;
    std::shared_ptr<DownloadTask> downloadTaskWithResumeData(const Bytes& resumeData) override;
    std::optional<std::string> resumeDataUrl(const Bytes& resumeData) const override;

private:
    struct Queue;
    class Worker;
    // What a new task calls to be run, or cancelled, by this session's worker.
    CurlTask::Requests requests() const;
    // Keeps `task` among the session's tasks and hands it out.
    std::shared_ptr<DownloadTask> kept(std::shared_ptr<CurlTask> task);
    std::shared_ptr<Queue> queue_;
    std::unique_ptr<Worker> worker_;
    std::thread thread_;
};

}  // namespace orbitreel
