#include "platform/linux/download/curl_transfer.h"

#include <algorithm>
#include <filesystem>

#include "core/identity.h"
#include "core/thread_affinity.h"
#include "platform/linux/download/curl_errors.h"
#include "platform/linux/download/curl_proxy.h"
#include "platform/linux/download/curl_resume_data.h"
#include "platform/linux/download/curl_sockets.h"
#include "platform/linux/download/response_plan.h"

namespace orbitreel {

namespace {

// Reports go to the main thread; a few per second keep the bar moving without
// flooding it however fast the transfer is.
constexpr auto ReportInterval = std::chrono::milliseconds(100);
constexpr long ReadBufferSize = 256 * 1024;
// A dropped body (a redirect's, a final answer to a range request) is read no
// further than this: its bytes matter to nobody, and a server that never ends
// it would otherwise hold the task until the whole task's time runs out.
constexpr std::size_t DroppedBodyLimit = 8 * 1024;

// Where a redirect leads, worked out as the library does for a response it
// completes without following: `location` against the request's URL, or
// `location` as it is where that fails. The library leaves it undone for a
// response whose body we stopped reading.
std::string redirectTarget(const std::string& requestUrl, const std::string& location) {
    std::string target = location;
    CURLU* url = curl_url();
    if (!url) return target;
    char* resolved = nullptr;
    if (curl_url_set(url, CURLUPART_URL, requestUrl.c_str(), CURLU_GUESS_SCHEME | CURLU_NON_SUPPORT_SCHEME) ==
            CURLUE_OK &&
        curl_url_set(url, CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(url, CURLUPART_URL, &resolved, 0) == CURLUE_OK) {
        target = resolved;
        curl_free(resolved);
    }
    curl_url_cleanup(url);
    return target;
}

}  // namespace

Transfer::Transfer(std::shared_ptr<CurlTask> task, SessionDelegate& delegate, const TransferSettings& settings)
    : task_(std::move(task)), delegate_(delegate), settings_(settings), easy_(curl_easy_init()) {
    started_ = lastActivity_ = lastReport_ = Clock::now();
    if (!easy_) return;
    curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    // No connection outlives its response: a server that sent more than it
    // declared leaves the extra bytes in front of the next response, which
    // then reads as no HTTP at all.
    curl_easy_setopt(easy_, CURLOPT_FORBID_REUSE, 1L);
    // Redirects are the delegate's decision, one hop at a time.
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "https");
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
    if (settings_.trustedCertificates) {
        curl_easy_setopt(easy_, CURLOPT_CAINFO, settings_.trustedCertificates->c_str());
        curl_easy_setopt(easy_, CURLOPT_CAPATH, nullptr);
    }
    if (settings_.connectTo) curl_easy_setopt(easy_, CURLOPT_CONNECT_TO, settings_.connectTo);
    if (settings_.direct) curl_easy_setopt(easy_, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings_.requestTimeout.count()));
    curl_easy_setopt(easy_, CURLOPT_BUFFERSIZE, ReadBufferSize);
    curl_easy_setopt(easy_, CURLOPT_USERAGENT, std::string(InstallerName).c_str());
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::onBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    openSocketsCloseOnExec(easy_);
}

Transfer::~Transfer() {
    if (easy_) curl_easy_cleanup(easy_);
    if (headers_) curl_slist_free_all(headers_);
}

Result<void> Transfer::open(PartialFolder& folder) {
    if (!easy_) return fail_with(curlTransferError(CURLE_OUT_OF_MEMORY, 0));
    started_ = Clock::now();
    if (task_->fromResumeData()) {
        const ResumeState& state = *task_->resumeState();
        auto file = folder.reopen(state.partialName, state.bytes);
        if (!file) return fail_with(file.error());
        file_ = std::move(*file);
        partialName_ = state.partialName;
        resumable_ = true;
        entityUrl_ = state.url;
        validator_ = state.validator;
        reported_ = state.bytes;
        return {};
    }
    std::string name = PartialFolder::newPartialName();
    auto file = folder.create(name);
    if (!file) return fail_with(file.error());
    file_ = std::move(*file);
    partialName_ = name;
    freshPartial_ = true;
    return {};
}

Result<void> Transfer::prepareRequest(const std::string& url) {
    if (!requestUrl_.empty()) ++redirects_;
    requestUrl_ = url;
    body_ = Body::waiting;
    redirect_ = false;
    redirectUrl_.clear();
    dropped_ = 0;
    droppedRest_ = false;
    expected_ = -1;
    abort_.reset();
    lastActivity_ = Clock::now();

    // Bytes already on disk are asked for the rest only while the server's
    // validator can vouch they belong to the same file.
    rangeStart_ = (resumable_ && file_.size() > 0 && !validator_.empty()) ? file_.size() : 0;
    if (headers_) curl_slist_free_all(headers_);
    headers_ = nullptr;
    if (rangeStart_ > 0) {
        headers_ = curl_slist_append(headers_, ("Range: bytes=" + std::to_string(rangeStart_) + "-").c_str());
        headers_ = curl_slist_append(headers_, ("If-Range: " + validator_).c_str());
        if (!headers_) return fail_with(curlTransferError(CURLE_OUT_OF_MEMORY, 0));
    }
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    if (CURLcode set = curl_easy_setopt(easy_, CURLOPT_URL, url.c_str()); set != CURLE_OK) {
        resumable_ = false;
        return fail_with(curlTransferError(set, 0));
    }
    return {};
}

size_t Transfer::onHeader(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    size_t length = size * count;
    return transfer->headerLine(std::string_view(data, length)) ? length : 0;
}

size_t Transfer::onBody(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    size_t length = size * count;
    return transfer->saveBody(data, length) ? length : 0;
}

bool Transfer::headerLine(std::string_view line) {
    lastActivity_ = Clock::now();
    // Only the blank line that ends a response's headers matters: the
    // library keeps the headers themselves.
    if (line.find_first_not_of(" \t\r\n") != std::string_view::npos) return true;
    long code = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    if (code >= 100 && code < 200) return true;
    return beginBody(code);
}

// The final response's header `name`, the last one where it repeats.
std::optional<std::string> Transfer::header(const char* name) const {
    curl_header* found = nullptr;
    if (curl_easy_header(easy_, name, 0, CURLH_HEADER, -1, &found) != CURLHE_OK) return std::nullopt;
    if (found->amount > 1 && curl_easy_header(easy_, name, found->amount - 1, CURLH_HEADER, -1, &found) != CURLHE_OK)
        return std::nullopt;
    return std::string(found->value);
}

// The first Location that is not empty: the one the library would follow.
std::string Transfer::firstLocation() const {
    curl_header* found = nullptr;
    for (size_t index = 0; curl_easy_header(easy_, "Location", index, CURLH_HEADER, -1, &found) == CURLHE_OK; ++index) {
        if (*found->value != '\0') return found->value;
        if (index + 1 >= found->amount) break;
    }
    return {};
}

bool Transfer::beginBody(long code) {
    const std::string location = header("Location").value_or("");
    const std::string contentRange = header("Content-Range").value_or("");
    const std::optional<std::string> contentLength = header("Content-Length");
    const std::string etag = header("ETag").value_or("");
    const std::string lastModified = header("Last-Modified").value_or("");
    ResponseHead head{code, location, contentRange, std::nullopt, etag, lastModified};
    if (contentLength) head.contentLength = *contentLength;
    ResponsePlan plan = planResponse(head, rangeStart_);

    if (plan.use == BodyUse::invalid) {
        abort_ = Error(invalidResponseError());
        return false;
    }
    task_->setResponse(HttpResponse{static_cast<int>(code), requestUrl_});
    switch (plan.use) {
        case BodyUse::redirect:
            body_ = Body::discard;
            redirect_ = true;
            redirectUrl_ = redirectTarget(requestUrl_, firstLocation());
            return true;
        case BodyUse::drop:
            // The bytes on disk stay, for the resume data that names them.
            body_ = Body::discard;
            return true;
        case BodyUse::refuse:
            body_ = Body::refused;
            resumable_ = false;
            abort_ = Error(cannotContinueError(static_cast<int>(code)));
            return false;
        case BodyUse::append:
            body_ = Body::save;
            entityUrl_ = requestUrl_;
            expected_ = plan.expectedTotal;
            return true;
        case BodyUse::startOver:
            if (!file_.restart()) {
                abort_ = Error(downloadFileError(file_.error()));
                return false;
            }
            reported_ = 0;
            body_ = Body::save;
            entityUrl_ = requestUrl_;
            validator_ = std::move(plan.validator);
            expected_ = plan.expectedTotal;
            return true;
        case BodyUse::save:
            body_ = Body::save;
            resumable_ = !plan.validator.empty();
            validator_ = std::move(plan.validator);
            entityUrl_ = requestUrl_;
            expected_ = plan.expectedTotal;
            return true;
        case BodyUse::invalid:
            break;  // answered above, before the response is known
    }
    return false;
}

bool Transfer::saveBody(const char* data, size_t length) {
    lastActivity_ = Clock::now();
    if (body_ == Body::discard) {
        // Past the limit the request ends here, with the response as final as
        // if its body had been read to the end.
        dropped_ += length;
        droppedRest_ = dropped_ > DroppedBodyLimit;
        return !droppedRest_;
    }
    if (body_ != Body::save) return false;
    // A body far longer than the file can be is not the file: stop before
    // it fills the disk, and keep nothing of it.
    const std::int64_t size = file_.size();
    if (settings_.largestFile >= 0 &&
        (size > settings_.largestFile || length > static_cast<std::uint64_t>(settings_.largestFile - size))) {
        resumable_ = false;
        abort_ = Error(tooMuchDataError());
        return false;
    }
    if (!file_.append(data, length)) {
        abort_ = Error(downloadFileError(file_.error()));
        return false;
    }
    report(false);
    return !abort_;
}

void Transfer::report(bool force) {
    assertOn(Affinity::session);
    auto now = Clock::now();
    if (!force && reportedOnce_ && now - lastReport_ < ReportInterval) return;
    // Reports count bytes that are in the file, not in our buffer.
    if (!file_.flush()) {
        abort_ = Error(downloadFileError(file_.error()));
        return;
    }
    std::int64_t size = file_.size();
    if (force && reportedOnce_ && size == reported_) return;
    delegate_.didWriteData(*task_, size - reported_, size, expectedTotal());
    reported_ = size;
    reportedOnce_ = true;
    lastReport_ = now;
}

std::int64_t Transfer::expectedTotal() const { return expected_; }

std::optional<Error> Transfer::requestError(CURLcode result) {
    if (abort_) return abort_;
    // The library calls it a write error; for us the response is complete.
    if (droppedRest_) return std::nullopt;
    if (result != CURLE_OK) {
        // The library refuses the address itself: asking again never helps,
        // so the bytes on disk are not offered for another try.
        if (result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_URL_MALFORMAT) resumable_ = false;
        long osErrno = 0;
        curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &osErrno);
        ProxyTrace proxy;
        proxy.used = !settings_.direct && environmentProxyFor(requestUrl_);
        curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &proxy.connectStatus);
        curl_easy_getinfo(easy_, CURLINFO_PROXY_ERROR, &proxy.socksError);
        return Error(curlTransferError(result, osErrno, proxy));
    }
    if (body_ == Body::waiting) return Error(curlTransferError(CURLE_GOT_NOTHING, 0));
    return std::nullopt;
}

UrlRequest Transfer::redirectRequest() const {
    if (redirectUrl_.empty()) return UrlRequest{};
    return UrlRequest{redirectUrl_};
}

// The library's time-outs do not fit: its low-speed limit is a rate averaged
// over whole seconds, not "no byte for this long", and CURLOPT_TIMEOUT_MS
// starts again with each redirect hop, while a task's time runs from its start.
Transfer::Clock::time_point Transfer::deadline() const {
    return std::min(lastActivity_ + settings_.requestTimeout, started_ + settings_.resourceTimeout);
}

Result<Path> Transfer::finishBody(PartialFolder& folder) {
    if (body_ == Body::save) {
        report(true);
        if (abort_) return fail_with(*abort_);
        Path path = file_.path();
        if (!file_.close()) return fail_with(downloadFileError(file_.error()));
        return path;
    }
    // A redirect that was not followed: its response is final and has no body.
    if (freshPartial_) {
        Path path = file_.path();
        if (!file_.close()) return fail_with(downloadFileError(file_.error()));
        return path;
    }
    // The partial file belongs to the resume data still on disk; keep it.
    auto empty = folder.createEmptyResponseFile();
    if (!empty) return fail_with(empty.error());
    emptyResponse_ = std::move(*empty);
    return emptyResponse_.path();
}

std::optional<Bytes> Transfer::abandon() {
    // What is on disk is what counts; a failed flush leaves the file as long
    // as the count says.
    (void)file_.flush();
    std::int64_t size = file_.size();
    (void)file_.close();
    if (resumable_ && size > 0 && !validator_.empty() && !entityUrl_.empty())
        return encodeResumeData(ResumeState{entityUrl_, size, validator_, partialName_});
    if (!file_.path().empty()) {
        std::error_code ec;
        std::filesystem::remove(file_.path(), ec);
    }
    return std::nullopt;
}

void Transfer::discard() {
    (void)file_.close();
    if (freshPartial_ && !file_.path().empty()) {
        std::error_code ec;
        std::filesystem::remove(file_.path(), ec);
    }
}

}  // namespace orbitreel
