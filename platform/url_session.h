#pragma once
// URL loading: one session, download tasks, delegate calls on the session's
// own serial worker thread (never the main thread).

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace orbitreel {

struct SessionConfiguration {
    // No progress for this long (connecting included) fails the task.
    double timeoutIntervalForRequest = 60;
    // The whole task must end within this long.
    double timeoutIntervalForResource = 7200;
    // A task whose file grows past this many bytes fails, with no resume
    // data; absent: no limit.
    std::optional<std::int64_t> largestFile;

    // Test configuration only; production code never sets these.
    // Connects every request for `host:443` to 127.0.0.1:`port`.
    struct HostOverride {
        std::string host;
        int port = 0;
        // Further names connected to the same port (redirects to other hosts).
        std::vector<std::string> otherHosts;
    };
    std::optional<HostOverride> connectHostTo;
    // A CA bundle to trust instead of the system's.
    std::optional<Path> trustedCertificates;
    // Where the session keeps partial downloads; defaults to the user's cache.
    std::optional<Path> partialDownloadsFolder;
};

struct UrlRequest {
    std::optional<std::string> url;  // absent or unparsable: no URL
};

struct HttpResponse {
    int statusCode = 0;
    std::string url;  // the final URL, after redirects
};

class DownloadTask {
public:
    virtual ~DownloadTask() = default;
    // Starts the task; returns at once.
    virtual void resume() = 0;
    // The response the task received, once there is one. Read on the
    // session's thread inside delegate calls.
    virtual std::optional<HttpResponse> response() const = 0;
    // Ends a running transfer so that it can continue later; returns at once.
    // `handler` is called once, on a thread of the session's choosing, with
    // the resume data, or with none when the bytes so far cannot be
    // continued or the task is not running. A running task also completes
    // with an error that carries the same resume data.
    using ResumeDataHandler = std::function<void(std::optional<Bytes>)>;
    virtual void cancelByProducingResumeData(ResumeDataHandler handler) = 0;
};

// A task's completion error: the description the user sees and, when the
// transfer can continue later, an opaque blob for `downloadTaskWithResumeData`.
struct TransferError {
    Error error;
    std::optional<Bytes> resumeData;
};

class SessionDelegate {
public:
    virtual ~SessionDelegate() = default;
    // Called for each redirect; `completion` must be called once, before the
    // call returns, with the request to follow or with nothing to refuse.
    virtual void willPerformRedirection(DownloadTask& task, const UrlRequest& newRequest,
                                        const std::function<void(std::optional<UrlRequest>)>& completion) = 0;
    // `totalBytesWritten` counts the bytes of the file written so far,
    // resumed bytes included; `totalBytesExpected` is -1 when unknown.
    virtual void didWriteData(DownloadTask& task, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                              std::int64_t totalBytesExpected) = 0;
    // The body is in `location` until the call returns, then it is removed.
    virtual void didFinishDownloading(DownloadTask& task, const Path& location) = 0;
    // Once per task: no error after a finished download, else the error.
    virtual void didComplete(DownloadTask& task, const std::optional<TransferError>& error) = 0;
};

class UrlSession {
public:
    virtual ~UrlSession() = default;
    virtual std::shared_ptr<DownloadTask> downloadTask(const std::string& url) = 0;
    virtual std::shared_ptr<DownloadTask> downloadTaskWithResumeData(const Bytes& resumeData) = 0;
    // The URL that a task made from `resumeData` would ask for; absent when
    // the blob is unusable (such a task fails when started).
    virtual std::optional<std::string> resumeDataUrl(const Bytes& resumeData) const = 0;
};

class UrlSessions {
public:
    virtual ~UrlSessions() = default;
    // The delegate is kept for the session's life; its calls arrive one at a
    // time on the session's own worker thread.
    virtual std::unique_ptr<UrlSession> makeSession(const SessionConfiguration& configuration,
                                                    SessionDelegate& delegate) = 0;
};

}  // namespace orbitreel
