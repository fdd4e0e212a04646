#include "platform/linux/download/curl_session.h"

#include <curl/curl.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <vector>

#include "core/thread_affinity.h"
#include "platform/linux/download/curl_errors.h"
#include "platform/linux/download/curl_partial_files.h"
#include "platform/linux/download/curl_resume_data.h"
#include "platform/linux/download/curl_sockets.h"
#include "platform/linux/download/curl_task.h"
#include "platform/linux/download/curl_transfer.h"

namespace orbitreel {

namespace {

// As many hops as a browser follows before calling it a loop.
constexpr int MaxRedirects = 16;
constexpr auto IdleWait = std::chrono::seconds(30);
constexpr auto BusyWait = std::chrono::seconds(1);

std::chrono::milliseconds toMilliseconds(double seconds) {
    return std::chrono::milliseconds(std::max<long long>(1, static_cast<long long>(seconds * 1000.0)));
}

}  // namespace

// Tasks handed from any thread to the worker.
struct CurlSession::Queue {
    std::mutex mutex;
    std::deque<std::shared_ptr<CurlTask>> pending;
    struct Cancel {
        std::shared_ptr<CurlTask> task;
        DownloadTask::ResumeDataHandler handler;
    };
    std::deque<Cancel> cancels;
    // Every task made by this session, so clean-ups spare the partial files
    // that unfinished tasks will continue.
    std::vector<std::weak_ptr<CurlTask>> made;
    CURLM* multi = nullptr;
    bool stopping = false;

    void enqueue(std::shared_ptr<CurlTask> task) {
        std::lock_guard lock(mutex);
        if (stopping || !multi) return;
        pending.push_back(std::move(task));
        curl_multi_wakeup(multi);
    }

    void cancel(Cancel request) {
        std::lock_guard lock(mutex);
        if (stopping || !multi) return;
        cancels.push_back(std::move(request));
        curl_multi_wakeup(multi);
    }
};

class CurlSession::Worker {
public:
    Worker(const SessionConfiguration& configuration, SessionDelegate& delegate, Path partialFolder, Queue& queue)
        : delegate_(delegate), folder_(std::move(partialFolder)), queue_(queue), multi_(makeMultiCloseOnExec()) {
        settings_.requestTimeout = toMilliseconds(configuration.timeoutIntervalForRequest);
        settings_.resourceTimeout = toMilliseconds(configuration.timeoutIntervalForResource);
        settings_.trustedCertificates = configuration.trustedCertificates;
        settings_.largestFile = configuration.largestFile.value_or(-1);
        if (configuration.connectHostTo) {
            const auto& override = *configuration.connectHostTo;
            std::vector<std::string> hosts{override.host};
            hosts.insert(hosts.end(), override.otherHosts.begin(), override.otherHosts.end());
            for (const auto& host : hosts) {
                std::string entry = host + ":443:127.0.0.1:" + std::to_string(override.port);
                settings_.connectTo = curl_slist_append(settings_.connectTo, entry.c_str());
            }
            settings_.direct = true;
        }
        std::lock_guard lock(queue_.mutex);
        queue_.multi = multi_;
    }

    ~Worker() {
        {
            std::lock_guard lock(queue_.mutex);
            queue_.multi = nullptr;
        }
        if (multi_) curl_multi_cleanup(multi_);
        if (settings_.connectTo) curl_slist_free_all(settings_.connectTo);
    }

    void run() {
        for (;;) {
            std::deque<std::shared_ptr<CurlTask>> starting;
            std::deque<Queue::Cancel> cancelling;
            {
                std::lock_guard lock(queue_.mutex);
                if (queue_.stopping) break;
                starting.swap(queue_.pending);
                cancelling.swap(queue_.cancels);
            }
            // Starts first: a cancel asked for after a start finds the transfer.
            for (auto& task : starting) start(std::move(task));
            for (auto& request : cancelling) cancel(request);

            int running = 0;
            curl_multi_perform(multi_, &running);
            settleFinishedRequests();
            expireStalledTransfers();
            curl_multi_poll(multi_, nullptr, 0, static_cast<int>(waitTime().count()), nullptr);
        }
        shutDown();
    }

private:
    void start(std::shared_ptr<CurlTask> task) {
        assertOn(Affinity::session);
        if (task->fromResumeData() && !task->resumeState()) {
            // Nothing of the blob can be trusted, so nothing is touched.
            task->finished = true;
            delegate_.didComplete(*task, TransferError{Error(unusableResumeDataError()), std::nullopt});
            return;
        }
        folder_.prune(partialsInUse());
        auto transfer = std::make_unique<Transfer>(task, delegate_, settings_);
        if (auto opened = transfer->open(folder_); !opened) {
            task->finished = true;
            transfer.reset();
            delegate_.didComplete(*task, TransferError{opened.error(), std::nullopt});
            return;
        }
        const std::string& url = task->fromResumeData() ? task->resumeState()->url : task->url();
        Transfer& added = *transfers_.emplace_back(std::move(transfer));
        begin(added, url);
    }

    // The transfer ends as a cut one does, keeping what a cut would keep; the
    // task completes first, so the handler's word is the last.
    void cancel(const Queue::Cancel& request) {
        assertOn(Affinity::session);
        auto found = std::ranges::find_if(transfers_, [&](const std::unique_ptr<Transfer>& transfer) {
            return transfer->taskPointer() == request.task;
        });
        if (found == transfers_.end()) return request.handler(std::nullopt);
        Transfer& transfer = **found;
        curl_multi_remove_handle(multi_, transfer.handle());
        auto resumeData = transfer.abandon();
        // The library's own code for a transfer its caller stopped.
        complete(transfer, TransferError{Error(curlTransferError(CURLE_ABORTED_BY_CALLBACK, 0)), resumeData});
        request.handler(std::move(resumeData));
    }

    std::set<std::string> partialsInUse() {
        std::set<std::string> names;
        for (const auto& transfer : transfers_) names.insert(transfer->partialName());
        std::lock_guard lock(queue_.mutex);
        std::erase_if(queue_.made, [](const std::weak_ptr<CurlTask>& made) { return made.expired(); });
        for (const auto& made : queue_.made) {
            auto task = made.lock();
            if (task && !task->finished && task->resumeState()) names.insert(task->resumeState()->partialName);
        }
        return names;
    }

    void begin(Transfer& transfer, const std::string& url) {
        if (auto prepared = transfer.prepareRequest(url); !prepared) return fail(transfer, prepared.error());
        if (curl_multi_add_handle(multi_, transfer.handle()) != CURLM_OK)
            return fail(transfer, Error(curlTransferError(CURLE_OUT_OF_MEMORY, 0)));
    }

    void settleFinishedRequests() {
        std::vector<std::pair<Transfer*, CURLcode>> done;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            Transfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            if (transfer) done.emplace_back(transfer, message->data.result);
        }
        for (auto [transfer, result] : done) {
            curl_multi_remove_handle(multi_, transfer->handle());
            if (auto error = transfer->requestError(result)) fail(*transfer, *error);
            else if (transfer->wantsRedirect()) redirect(*transfer);
            else finish(*transfer);
        }
    }

    void redirect(Transfer& transfer) {
        assertOn(Affinity::session);
        auto answer = std::make_shared<std::optional<std::optional<UrlRequest>>>();
        delegate_.willPerformRedirection(transfer.task(), transfer.redirectRequest(),
                                         [answer](std::optional<UrlRequest> request) {
                                             if (!*answer) *answer = std::move(request);
                                         });
        bool follow = answer->has_value() && answer->value().has_value() && answer->value()->url.has_value();
        // Refused (or never answered): the redirect response is the final one.
        if (!follow) return finish(transfer);
        if (transfer.redirectsFollowed() >= MaxRedirects) return fail(transfer, Error(tooManyRedirectsError()));
        begin(transfer, *answer->value()->url);
    }

    void finish(Transfer& transfer) {
        assertOn(Affinity::session);
        auto location = transfer.finishBody(folder_);
        if (!location) return fail(transfer, location.error());
        delegate_.didFinishDownloading(transfer.task(), *location);
        // Whatever the delegate did not move away is ours to remove.
        std::error_code ec;
        std::filesystem::remove(*location, ec);
        complete(transfer, std::nullopt);
    }

    void fail(Transfer& transfer, const Error& error) {
        auto resumeData = transfer.abandon();
        complete(transfer, TransferError{error, std::move(resumeData)});
    }

    void complete(Transfer& transfer, std::optional<TransferError> error) {
        assertOn(Affinity::session);
        std::shared_ptr<CurlTask> task = transfer.taskPointer();
        task->finished = true;
        // Release the files and the handle before the delegate hears of it.
        std::erase_if(transfers_, [&](const std::unique_ptr<Transfer>& t) { return t.get() == &transfer; });
        delegate_.didComplete(*task, error);
    }

    void expireStalledTransfers() {
        auto now = Transfer::Clock::now();
        std::vector<Transfer*> expired;
        for (const auto& transfer : transfers_)
            if (now >= transfer->deadline()) expired.push_back(transfer.get());
        for (Transfer* transfer : expired) {
            curl_multi_remove_handle(multi_, transfer->handle());
            fail(*transfer, Error(curlTransferError(CURLE_OPERATION_TIMEDOUT, 0)));
        }
    }

    std::chrono::milliseconds waitTime() const {
        if (transfers_.empty()) return IdleWait;
        auto now = Transfer::Clock::now();
        auto next = now + BusyWait;
        for (const auto& transfer : transfers_) next = std::min(next, transfer->deadline());
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now) + std::chrono::milliseconds(1);
        return std::max(wait, std::chrono::milliseconds(0));
    }

    void shutDown() {
        for (auto& transfer : transfers_) {
            curl_multi_remove_handle(multi_, transfer->handle());
            transfer->discard();
        }
        transfers_.clear();
    }

    SessionDelegate& delegate_;
    PartialFolder folder_;
    Queue& queue_;
    CURLM* multi_;
    TransferSettings settings_;
    std::vector<std::unique_ptr<Transfer>> transfers_;
};

CurlSession::CurlSession(const SessionConfiguration& configuration, SessionDelegate& delegate, Path partialFolder)
    : queue_(std::make_shared<Queue>()),
      worker_(std::make_unique<Worker>(configuration, delegate, std::move(partialFolder), *queue_)) {
    thread_ = std::thread([worker = worker_.get()] {
        // The session's serial queue: every delegate call is made here.
        markThisThread(Affinity::session);
        worker->run();
    });
}

CurlSession::~CurlSession() {
    {
        std::lock_guard lock(queue_->mutex);
        queue_->stopping = true;
        if (queue_->multi) curl_multi_wakeup(queue_->multi);
    }
    thread_.join();
    worker_.reset();
}

CurlTask::Requests CurlSession::requests() const {
    // A task outliving its session is never run.
    const std::weak_ptr<Queue> queue = queue_;
    return {[queue](std::shared_ptr<CurlTask> task) {
                if (auto q = queue.lock()) q->enqueue(std::move(task));
            },
            [queue](std::shared_ptr<CurlTask> task, DownloadTask::ResumeDataHandler handler) {
                if (auto q = queue.lock()) q->cancel({std::move(task), std::move(handler)});
            }};
}

std::shared_ptr<DownloadTask> CurlSession::kept(std::shared_ptr<CurlTask> task) {
    std::lock_guard lock(queue_->mutex);
    queue_->made.push_back(task);
    return task;
}

std::shared_ptr<DownloadTask> CurlSession::downloadTask(const std::string& url) {
    return kept(std::make_shared<CurlTask>(requests(), url));
}

std::shared_ptr<DownloadTask> CurlSession::downloadTaskWithResumeData(const Bytes& resumeData) {
    return kept(std::make_shared<CurlTask>(requests(), decodeResumeData(resumeData)));
}

std::optional<std::string> CurlSession::resumeDataUrl(const Bytes& resumeData) const {
    auto state = decodeResumeData(resumeData);
    if (!state) return std::nullopt;
    return state->url;
}

}  // namespace orbitreel
