// The end of a successful run: final state, the installed path, the launch
// of the installed application and the removal of the cached image, in the
// background.

#include <QPointer>

#include "controller/installer.h"
#include "core/cache_paths.h"
#include "core/texts.h"
#include "core/thread_affinity.h"
#include "ui/bar.h"
#include "ui/line_limited_label.h"
#include "ui/primary_button.h"
#include "ui/qt_text.h"

namespace orbitreel {

namespace {

// The path with the home folder shown as "~". Only whole-folder matches
// count, so a sibling such as "/home/ann2" is not mistaken for "/home/ann".
std::string withTildeForHome(const std::string& path, std::string home) {
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    if (home.empty() || home == "/") return path;
    std::string shown;
    std::size_t from = 0;
    while (true) {
        const auto at = path.find(home, from);
        if (at == std::string::npos) break;
        const auto end = at + home.size();
        if (end == path.size() || path[end] == '/') {
            shown.append(path, from, at - from);
            shown += "~";
        } else {
            shown.append(path, from, end - from);
        }
        from = end;
    }
    shown.append(path, from, std::string::npos);
    return shown;
}

}  // namespace

void Installer::finishInstall(const InstalledApplication& application) {
    assertOn(Affinity::main);
    busy = false;
    installed = true;

    bar->stopAnimation();
    bar->setIndeterminate(false);
    bar->setDoubleValue(100);

    status->setText(qt(texts::Installed));
    const Path home = platform_.environment->homeDirectory();
    details->setText(qt(withTildeForHome(application.location.string(), home.string())));
    if (action) {
        action->setText(qt(texts::Done));
        action->setEnabled(true);
    }

    Queues& queues = *platform_.queues;
    QPointer<Installer> self(this);
    platform_.workspace->openApplication(application, [&queues, self](std::optional<Error> error) {
        if (!error) return;
        queues.onMain([self, text = error->localizedDescription()] {
            if (self) self->status->setText(qt(texts::notOpened(text)));
        });
    });

    // Freeing a 1 GiB file takes the file system a good part of a second: off
    // the main thread, which has just shown "Listo". A quit before it ends may
    // leave the image, which the next run verifies again.
    if (release) {
        platform_.queues->onUserInitiated(
            [&files = fm, image = cachedImage(home, release->version)] { ignore(files.remove(image)); });
    }
}

}  // namespace orbitreel
