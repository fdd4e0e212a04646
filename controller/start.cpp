// The primary button's action: what a press means depends on the state.

#include "controller/installer.h"
#include "core/cache_paths.h"
#include "core/texts.h"
#include "core/thread_affinity.h"
#include "install/install.h"
#include "ui/line_limited_label.h"
#include "ui/primary_button.h"
#include "ui/qt_text.h"

namespace orbitreel {

void Installer::start() {
    assertOn(Affinity::main);
    if (installed) {
        terminate();
        return;
    }
    // Without a session the launch failed and the button stays disabled; a
    // press that still arrives has nothing to start.
    if (busy || !release || !session) return;

    if (platform_.runningApplications->countWithBundleIdentifier(TargetBundleId) > 0) {
        status->setText(qt(texts::StillRunning));
        if (action) action->setText(qt(texts::TryAgain));
        return;
    }

    busy = true;
    downloading = false;
    if (action) action->setEnabled(false);
    status->setText(qt(texts::Downloading));

    const Path home = platform_.environment->homeDirectory();
    // A complete image kept from an earlier run is verified again, offline.
    if (fm.exists(cachedImage(home, release->version))) {
        verifyAndInstall();
        return;
    }
    // Resume an interrupted download when its data can be read; anything
    // else (no file, a folder, unreadable) starts afresh. Resume data that
    // would ask anywhere but the release's own address is dropped unused.
    const Path resumeFile = resumeDataFile(home, release->version);
    auto resumeData = fm.readAll(resumeFile);
    bool resumes = resumeData.has_value();
    if (resumes) {
        auto resumeUrl = session->resumeDataUrl(*resumeData);
        if (resumeUrl && !isReleaseUrl(*resumeUrl, release->version)) {
            ignore(fm.remove(resumeFile));
            resumes = false;
        }
    }
    task = resumes ? session->downloadTaskWithResumeData(*resumeData) : session->downloadTask(release->url);
    downloading = true;
    task->resume();
}

}  // namespace orbitreel
