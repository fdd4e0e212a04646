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
    using Enqueue = std::function<void(std::shared_ptr<CurlTask>)>;

    // A fresh download of `url`.
    CurlTask(Enqueue enqueue, std::string url) : enqueue_(std::move(enqueue)), url_(std::move(url)) {}
    // A download that continues from resume data; absent state means the blob
    // was unusable and the task will fail when started.
    CurlTask(Enqueue enqueue, std::optional<ResumeState> state)
        : enqueue_(std::move(enqueue)), fromResumeData_(true), resumeState_(std::move(state)) {}

    void resume() override {
        if (started_.exchange(true)) return;
        enqueue_(shared_from_this());
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
    Enqueue enqueue_;
    std::string url_;
    bool fromResumeData_ = false;
    std::optional<ResumeState> resumeState_;
    std::atomic<bool> started_{false};
    mutable std::mutex mutex_;
    std::optional<HttpResponse> response_;
};

}  // namespace orbitreel
