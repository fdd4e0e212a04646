// From a complete image in the cache to an installed application: size and
// digest checks, then the install transaction, all off the main thread.

#include <QPointer>

#include "controller/installer.h"
#include "core/cache_paths.h"
#include "core/digest.h"
#include "core/texts.h"
#include "core/thread_affinity.h"
#include "install/install.h"
#include "ui/bar.h"
#include "ui/line_limited_label.h"
#include "ui/qt_text.h"

namespace orbitreel {

namespace {

// An image that fails a check is deleted, so the next attempt downloads it
// afresh; every other failure keeps it for a retry without the network.
Result<InstalledApplication> verifiedAndInstalled(const Platform& platform, const Release& release, const Path& image,
                                  Leftovers leftovers) {
    assertOn(Affinity::background);
    Files& files = *platform.files;
    auto size = files.fileSize(image);
    if (!size) return fail_with(size.error());

    bool matches = *size == release.bytes;
    if (matches) {
        auto sum = digest(files, *platform.hashing, image);
        if (!sum) return fail_with(sum.error());
        matches = *sum == release.sha256;
    }
    if (!matches) {
        ignore(files.remove(image));
        return fail_with(InstallError{texts::VerificationFailed});
    }
    return install(platform, release, leftovers);
}

}  // namespace

void Installer::verifyAndInstall() {
    assertOn(Affinity::main);
    status->setText(qt(texts::VerifyingAndInstalling));
    bar->setIndeterminate(true);
    bar->startAnimation();

    // Both callers get here only with a release; without one there is
    // nothing to check, and the run ends as a failure rather than hanging.
    if (!release) {
        fail(InstallError{texts::InvalidManifest});
        return;
    }

    const Platform& platform = platform_;
    const Release checked = *release;
    const Path image = cachedImage(platform.environment->homeDirectory(), checked.version);
    QPointer<Installer> self(this);
    platform.queues->onUserInitiated([&platform, checked, image, self, leftovers = leftovers_] {
        auto outcome = verifiedAndInstalled(platform, checked, image, leftovers);
        // Exactly one result goes back to the main thread.
        platform.queues->onMain([self, outcome = std::move(outcome)] {
            if (!self) return;
            if (outcome) self->finishInstall(*outcome);
            else self->fail(outcome.error());
        });
    });
}

}  // namespace orbitreel
