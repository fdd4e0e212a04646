#include "tests/platform/linux/download/download_fixture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/release.h"

namespace orbitreel::test_support {

TestReleaseHost::TestReleaseHost()
    : certificates_(release_host::makeCertificates(folder_.path() / "tls", {ReleaseHost, MirrorHost, SubdomainHost})),
      server_(std::make_unique<release_host::Server>(certificates_)) {}

std::string TestReleaseHost::url(const std::string& path) { return std::string("https://") + ReleaseHost + path; }

SessionConfiguration TestReleaseHost::configuration() const {
    SessionConfiguration configuration;
    configuration.connectHostTo =
        SessionConfiguration::HostOverride{ReleaseHost, server_->port(), {MirrorHost, SubdomainHost}};
    configuration.trustedCertificates = certificates_.authority;
    configuration.partialDownloadsFolder = partialsFolder();
    return configuration;
}

Bytes patternBytes(std::size_t size, std::uint64_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = release_host::patternByte(i + seed * 7919);
    return bytes;
}

Bytes readBytes(const Path& file) {
    std::ifstream in(file, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> filesIn(const Path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

void RecordingDelegate::willPerformRedirection(DownloadTask&, const UrlRequest& newRequest,
                                               const std::function<void(std::optional<UrlRequest>)>& completion) {
    bool follow = followRedirect(newRequest);
    {
        std::lock_guard lock(mutex_);
        threads.insert(std::this_thread::get_id());
        redirects.push_back(newRequest.url.value_or(""));
        order.push_back("redirect");
    }
    completion(follow ? std::optional<UrlRequest>(newRequest) : std::nullopt);
}

void RecordingDelegate::didWriteData(DownloadTask&, std::int64_t bytesWritten, std::int64_t totalBytesWritten,
                                     std::int64_t) {
    std::lock_guard lock(mutex_);
    threads.insert(std::this_thread::get_id());
    totals.push_back(totalBytesWritten);
    reportedDelta += bytesWritten;
    order.push_back("progress");
    changed_.notify_all();
}

void RecordingDelegate::didFinishDownloading(DownloadTask& task, const Path& location) {
    Bytes bytes = readBytes(location);
    std::lock_guard lock(mutex_);
    threads.insert(std::this_thread::get_id());
    body = std::move(bytes);
    handedOver = location;
    finalResponse = task.response();
    order.push_back("finished");
}

void RecordingDelegate::didComplete(DownloadTask&, const std::optional<TransferError>& transferError) {
    std::lock_guard lock(mutex_);
    threads.insert(std::this_thread::get_id());
    ++completions;
    error = transferError;
    order.push_back("complete");
    changed_.notify_all();
}

bool RecordingDelegate::waitForCompletion(std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return completions > 0; });
}

bool RecordingDelegate::waitForProgress(std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return !totals.empty(); });
}

}  // namespace orbitreel::test_support
