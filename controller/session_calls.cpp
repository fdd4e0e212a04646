// The URL session's four delegate calls, and the keeping of resume data
// they share with a quit request. They arrive one at a time on the session's
// own thread: there they touch only the cache files and the fixed fields
// `release` and `fm`; everything the window shows is posted to the main queue.

#include <QPointer>
#include <QString>
#include <cmath>
#include <string>

#include "controller/installer.h"
#include "core/cache_paths.h"
#include "core/texts.h"
#include "core/thread_affinity.h"
#include "core/url.h"
#include "ui/bar.h"
#include "ui/line_limited_label.h"
#include "ui/qt_text.h"

namespace orbitreel {

namespace {

bool isOnReleaseHost(const std::optional<std::string>& url) {
    if (!url) return false;
    auto parsed = parseUrl(*url);
    return parsed && isHttpsOnReleaseHost(*parsed);
}

// Percent of the size the manifest promises, never above 100; a result that
// is not a number counts as done.
double progressPercent(std::int64_t written, std::int64_t total) {
    double percent = static_cast<double>(written) * 100.0 / static_cast<double>(total);
    if (std::isnan(percent) || percent > 100.0) return 100.0;
    return percent;
}

}  // namespace

void Installer::willPerformRedirection(DownloadTask&, const UrlRequest& newRequest,
                                       const std::function<void(std::optional<UrlRequest>)>& completion) {
    assertOn(Affinity::session);
    completion(isOnReleaseHost(newRequest.url) ? std::optional<UrlRequest>(newRequest) : std::nullopt);
}

void Installer::didWriteData(DownloadTask&, std::int64_t, std::int64_t totalBytesWritten, std::int64_t) {
    assertOn(Affinity::session);
    platform_.queues->onMain([self = QPointer<Installer>(this), totalBytesWritten] {
        if (!self || !self->release) return;
        const std::int64_t total = self->release->bytes;
        self->bar->setIndeterminate(false);
        self->bar->setDoubleValue(progressPercent(totalBytesWritten, total));
        const auto shown = static_cast<std::int64_t>(self->bar->doubleValue());
        self->details->setText(qt(texts::progressDetails(shown, totalBytesWritten, total)));
    });
}

void Installer::didFinishDownloading(DownloadTask& task, const Path& location) {
    assertOn(Affinity::session);
    auto post = [this](std::optional<Error> error) {
        platform_.queues->onMain([self = QPointer<Installer>(this), error = std::move(error)] {
            if (!self) return;
            self->downloading = false;
            // The installer is ending: a kept image is verified by the next run.
            if (self->quitting) return;
            if (error) self->fail(*error);
            else self->verifyAndInstall();
        });
    };

    const auto response = task.response();
    const int statusCode = response ? response->statusCode : 0;
    const bool accepted = (statusCode == 200 || statusCode == 206) && response && !response->url.empty() &&
                          isOnReleaseHost(response->url);
    if (!accepted) return post(Error(InstallError{texts::DownloadRefused}));

    const Path home = platform_.environment->homeDirectory();
    // The session removes its file once this call returns, so the move
    // happens here; an image already in the way is not replaced.
    if (auto moved = fm.move(location, cachedImage(home, release->version)); !moved) return post(moved.error());
    ignore(fm.remove(resumeDataFile(home, release->version)));
    post(std::nullopt);
}

void Installer::didComplete(DownloadTask&, const std::optional<TransferError>& error) {
    assertOn(Affinity::session);
    if (!error) return;  // a finished transfer, already handled

    keepResumeData(error->resumeData);

    const std::string text = texts::downloadCut(error->error.localizedDescription());
    platform_.queues->onMain([self = QPointer<Installer>(this), text] {
        if (!self) return;
        self->downloading = false;
        // Cancelled for a quit request: nothing to show on the way out.
        if (!self->quitting) self->fail(InstallError{text});
    });
}

void Installer::keepResumeData(const std::optional<Bytes>& resumeData) const {
    const Path file = resumeDataFile(platform_.environment->homeDirectory(), release->version);
    if (resumeData) ignore(fm.write(file, *resumeData, true));
    else ignore(fm.remove(file));
}

}  // namespace orbitreel
