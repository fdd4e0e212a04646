#pragma once
// What the download tests share: a local HTTPS release host with a fresh test
// authority, a session configuration that reaches it, and a delegate that
// records every call of a session.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/url_session.h"
#include "stage/release_host/release_host.h"
#include "tests/support/temporary_folder.h"

namespace orbitreel::test_support {

inline constexpr const char* MirrorHost = "mirror.example";
inline constexpr const char* SubdomainHost = "cdn.orbitreel.app";

class TestReleaseHost {
public:
    TestReleaseHost();

    release_host::Server& server() { return *server_; }
    const Path& folder() const { return folder_.path(); }
    const release_host::Certificates& certificates() const { return certificates_; }
    // "https://" + the release host + path.
    static std::string url(const std::string& path);
    // Reaches this host for the release host's name and the other test hosts.
    SessionConfiguration configuration() const;
    Path partialsFolder() const { return folder_.path() / "partials"; }

private:
    TemporaryFolder folder_;
    release_host::Certificates certificates_;
    std::unique_ptr<release_host::Server> server_;
};

Bytes patternBytes(std::size_t size, std::uint64_t seed = 0);
Bytes readBytes(const Path& file);
std::vector<std::string> filesIn(const Path& folder);

// Records a session's delegate calls; every call happens on the session's
// worker, and the test reads after `waitForCompletion`.
class RecordingDelegate : public SessionDelegate {
public:
    // Whether to follow a proposed redirect; follows all by default.
    std::function<bool(const UrlRequest&)> followRedirect = [](const UrlRequest&) { return true; };

    void willPerformRedirection(DownloadTask& task, const UrlRequest& newRequest,
                                const std::function<void(std::optional<UrlRequest>)>& completion) override;
    void didWriteData(DownloadTask& task, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                      std::int64_t totalBytesExpected) override;
    void didFinishDownloading(DownloadTask& task, const Path& location) override;
    void didComplete(DownloadTask& task, const std::optional<TransferError>& error) override;

    // False when no completion arrived in time.
    bool waitForCompletion(std::chrono::seconds timeout = std::chrono::seconds(30));
    // False when no bytes were reported written in time.
    bool waitForProgress(std::chrono::seconds timeout = std::chrono::seconds(30));

    // Results; read them after waitForCompletion.
    std::vector<std::string> redirects;  // proposed URLs ("" when none)
    std::vector<std::int64_t> totals;    // totalBytesWritten of each report
    std::int64_t reportedDelta = 0;      // sum of bytesWritten
    std::optional<Bytes> body;           // the handed-over file's bytes
    Path handedOver;
    std::optional<HttpResponse> finalResponse;
    int completions = 0;
    std::optional<TransferError> error;
    std::set<std::thread::id> threads;
    std::vector<std::string> order;  // "redirect", "progress", "finished", "complete"

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace orbitreel::test_support
