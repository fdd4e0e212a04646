#pragma once
// One installer per person, so two never share one cache, nor take each
// other's copies in progress for leftovers of a killed run. Opening the
// installer again while it runs asks the running one to show its window; the
// new process then leaves.

#include <sys/types.h>

#include <QLocalServer>
#include <QObject>
#include <QString>

#include "base/unique_fd.h"

namespace orbitreel {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // The lock and the local socket are made in `folder`, which must be
    // private to the user (see instanceFolder); with none, the installer
    // runs unguarded. `key` names them; see keyFor.
    SingleInstance(const QString& folder, const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The name of `user`'s lock: one person, one installer, however their
    // home is spelled.
    static QString keyFor(uid_t user);

    enum class Claim {
        held,       // this process is now the one installer and listens for reopen requests
        unguarded,  // no safe place to coordinate through: it runs, but cannot know it is alone
        elsewhere,  // another one holds the place; it has been asked to show its window
    };
    Claim claim();

    // Removes the socket and the lock, so nothing is left when the process
    // ends; a lock left by a killed installer is taken over all the same.
    void release();

signals:
    void reopenRequested();

private:
    void listen();
    void accept();
    bool askRunningToReopen();

    base::UniqueFd folder_;
    QString lockPath_;
    QString socketPath_;
    base::UniqueFd lock_;
    QLocalServer server_;
};

}  // namespace orbitreel
