#pragma once
// One task's work on libcurl: its requests (one per redirect hop), the
// response headers, the body going into the partial file, progress reports
// and the resume data it can leave behind. Lives on the session's worker.

#include <curl/curl.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/download/curl_partial_files.h"
#include "platform/linux/download/curl_task.h"
#include "platform/url_session.h"

namespace orbitreel {

struct TransferSettings {
    std::chrono::milliseconds requestTimeout{60000};
    std::chrono::milliseconds resourceTimeout{7200000};
    curl_slist* connectTo = nullptr;  // owned by the session
    std::optional<Path> trustedCertificates;
    bool direct = false;            // no proxy (the test configuration)
    std::int64_t largestFile = -1;  // -1: no limit
};

class Transfer {
public:
    using Clock = std::chrono::steady_clock;

    Transfer(std::shared_ptr<CurlTask> task, SessionDelegate& delegate, const TransferSettings& settings);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    CurlTask& task() { return *task_; }
    const std::shared_ptr<CurlTask>& taskPointer() const { return task_; }
    CURL* handle() const { return easy_; }
    const std::string& partialName() const { return partialName_; }

    // Creates the partial file of a fresh task, or reopens the one that the
    // resume data names. On failure nothing was touched.
    Result<void> open(PartialFolder& folder);
    // Sets up the next request, to `url`; the caller adds the handle.
    Result<void> prepareRequest(const std::string& url);

    // The request ended with `result`. Returns the error the task fails with,
    // or nothing when the response is final (finished or redirect).
    std::optional<Error> requestError(CURLcode result);
    // The last response asked for a redirect: the proposed request.
    bool wantsRedirect() const { return redirect_; }
    UrlRequest redirectRequest() const;
    int redirectsFollowed() const { return redirects_; }

    // When the task must give up for lack of progress or time.
    Clock::time_point deadline() const;

    // Closes the body file and names the file to hand over; the caller removes
    // it after the delegate call. Reports the last progress first.
    Result<Path> finishBody(PartialFolder& folder);
    // Closes everything after a failure. Returns the resume data when the
    // bytes on disk can be continued; otherwise removes the partial file.
    std::optional<Bytes> abandon();
    // Drops the partial of a fresh task on shutdown (nobody will name it).
    void discard();

private:
    enum class Body { waiting, discard, save, refused };

    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    bool headerLine(std::string_view line);
    std::optional<std::string> header(const char* name) const;
    std::string firstLocation() const;
    bool beginBody(long code);
    bool saveBody(const char* data, size_t length);
    void report(bool force);
    std::int64_t expectedTotal() const;

    std::shared_ptr<CurlTask> task_;
    SessionDelegate& delegate_;
    const TransferSettings& settings_;
    CURL* easy_ = nullptr;
    curl_slist* headers_ = nullptr;

    PartialFile file_;
    std::string partialName_;
    bool freshPartial_ = false;
    PartialFile emptyResponse_;

    // What the bytes on disk are: the entity at `entityUrl_` named by
    // `validator_`, continuable when both are known.
    bool resumable_ = false;
    std::string entityUrl_;
    std::string validator_;

    // The current request and its response.
    std::string requestUrl_;
    std::int64_t rangeStart_ = 0;
    Body body_ = Body::waiting;
    bool redirect_ = false;
    std::string redirectUrl_;
    int redirects_ = 0;
    std::size_t dropped_ = 0;   // bytes of a dropped body read so far
    bool droppedRest_ = false;  // the request ended at the dropped body's limit
    std::int64_t expected_ = -1;
    std::optional<Error> abort_;

    Clock::time_point started_;
    Clock::time_point lastActivity_;
    Clock::time_point lastReport_;
    bool reportedOnce_ = false;
    std::int64_t reported_ = 0;
};

}  // namespace orbitreel
