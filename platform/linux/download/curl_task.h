#pragma once
// A download task of the libcurl session. It only describes what to fetch and
// carries the latest response; the session's worker thread does the work.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/thread_affinity.h"
#include "platform/linux/download/curl_resume_data.h"
#include "platform/url_session.h"

namespace orbitreel {

class CurlTask : public DownloadTask, public std::enable_shared_from_this<CurlTask> {
public:
    // What a task asks of its session's worker, from any thread; a session
    // that is gone does neither.
    struct Requests {
        std::function<void(std::shared_ptr<CurlTask>)> start;
        std::function<void(std::shared_ptr<CurlTask>, ResumeDataHandler)> cancel;
    };

    // A fresh download of `url`.
    CurlTask(Requests requests, std::string url) : requests_(std::move(requests)), url_(std::move(url)) {}
    // A download that continues from resume data; absent state means the blob
    // was unusable and the task will fail when started.
    CurlTask(Requests requests, std::optional<ResumeState> state)
        : requests_(std::move(requests)), fromResumeData_(true), resumeState_(std::move(state)) {}

    void resume() override {
        if (started_.exchange(true)) return;
        requests_.start(shared_from_this());
    }

    void cancelByProducingResumeData(ResumeDataHandler handler) override {
        // A task cancelled before it was resumed never starts.
        started_ = true;
        requests_.cancel(shared_from_this(), std::move(handler));
    }

    std::optional<HttpResponse> response() const override {
        assertOn(Affinity::session);
        std::lock_guard lock(mutex_);
        return response_;
    }
    void setResponse(HttpResponse response) {
        std::lock_guard lock(mutex_);
        response_ = std::move(response);
    }

    bool fromResumeData() const { return fromResumeData_; }
    const std::optional<ResumeState>& resumeState() const { return resumeState_; }
    const std::string& url() const { return url_; }

    // Written and read on the session's worker thread only.
    bool finished = false;

private:
    Requests requests_;
    std::string url_;
    bool fromResumeData_ = false;
    std::optional<ResumeState> resumeState_;
    std::atomic<bool> started_{false};
    mutable std::mutex mutex_;
    std::optional<HttpResponse> response_;
};

}  // namespace orbitreel
