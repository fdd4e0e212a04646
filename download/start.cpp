// The primary button's action: what a press means depends on the state.

#include "app/installer.h"
#include "app/line_limited_label.h"
#include "download/cache_paths.h"
#include "install/install.h"
#include "ui/primary_button.h"

namespace orbitreel {

void Installer::start() {
    if (installed) {
        terminate();
        return;
    }
    // Without a session the launch failed and the button stays disabled; a
    // press that still arrives has nothing to start.
    if (busy || !release || !session) return;

    if (platform_.runningApplications->countWithBundleIdentifier(TargetBundleId) > 0) {
        status->setText(QStringLiteral(
            "Cuando terminen sus trabajos, cerrá Orbitreel desde la barra de menú y volvé a intentar."));
        if (action) action->setText(QStringLiteral("Volver a intentar"));
        return;
    }

    busy = true;
    if (action) action->setEnabled(false);
    status->setText(QStringLiteral("Descargando…"));

    const Path home = platform_.environment->homeDirectory();
    // A complete image kept from an earlier run is verified again, offline.
    if (fm.exists(cachedImage(home, release->version))) {
        verifyAndInstall();
        return;
    }
    // Resume an interrupted download when its data can be read; anything
    // else (no file, a folder, unreadable) starts afresh.
    auto resumeData = fm.readAll(resumeDataFile(home, release->version));
    task = resumeData ? session->downloadTaskWithResumeData(*resumeData) : session->downloadTask(release->url);
    task->resume();
}

}  // namespace orbitreel
