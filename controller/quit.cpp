// A quit request from the system: it always ends the installer, but a
// download under way is first cancelled so that what arrived is kept for the
// next run to continue.

#include <QPointer>

#include "controller/installer.h"
#include "core/thread_affinity.h"

namespace orbitreel {

Installer::TerminateReply Installer::applicationShouldTerminate() {
    assertOn(Affinity::main);
    // A second request while the first waits: the first one's reply ends it.
    if (quitting) return TerminateReply::later;
    // Verifying or installing: the cached image, or the swap's recovery,
    // takes care of the next run.
    if (!busy || !downloading || !task) return TerminateReply::now;

    quitting = true;
    Queues& queues = *platform_.queues;
    QPointer<Installer> self(this);
    // The session calls the handler while it lives, and the installer owns
    // the session, so `this` is still there.
    task->cancelByProducingResumeData([this, &queues, self](std::optional<Bytes> resumeData) {
        // None: the task had already ended, its outcome kept, or its
        // completion, which removes an older file, says the same.
        if (resumeData) keepResumeData(resumeData);
        queues.onMain([self] {
            if (self) self->replyToQuit();
        });
    });
    // A session that never answers does not keep the system waiting.
    queues.onMainAfter(QuitWait, [self] {
        if (self) self->replyToQuit();
    });
    return TerminateReply::later;
}

void Installer::replyToQuit() {
    assertOn(Affinity::main);
    if (quitReplied) return;
    quitReplied = true;
    replyToApplicationShouldTerminate();
}

}  // namespace orbitreel
