// The single road by which a failure reaches the person after launch.

#include <string>

#include "controller/installer.h"
#include "core/note.h"
#include "core/texts.h"
#include "core/thread_affinity.h"
#include "ui/bar.h"
#include "ui/line_limited_label.h"
#include "ui/primary_button.h"
#include "ui/qt_text.h"

namespace orbitreel {

void Installer::fail(const Error& error) {
    assertOn(Affinity::main);
    const std::string text = error.localizedDescription();
    note(platform_, "error " + text);
    busy = false;
    bar->stopAnimation();
    bar->setIndeterminate(false);
    status->setText(qt(text));
    if (action) {
        action->setText(qt(texts::Retry));
        action->setEnabled(true);
    }
}

void Installer::failLaunch(const Error& error) {
    assertOn(Affinity::main);
    fail(error);
    if (action) action->setEnabled(false);
}

}  // namespace orbitreel
