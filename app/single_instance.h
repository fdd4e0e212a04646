#pragma once
// One installer per user and home folder, so two never share one cache.
// Opening the installer again while it runs asks the running one to show its
// window; the new process then leaves.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

namespace orbitreel {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `key` names the lock and the local socket; see keyFor.
    explicit SingleInstance(const QString& key, QObject* parent = nullptr);
    ~SingleInstance() override;

    // A name unique to the user and the home folder.
    static QString keyFor(unsigned userId, const QString& homeFolder);

    // True when this process is now the one installer and listens for
    // reopen requests. False when another one holds the place; it has then
    // been asked to show its window (when it could be reached).
    bool claim();

signals:
    void reopenRequested();

private:
    void accept();
    bool askRunningToReopen();

    QString key_;
    QLockFile lock_;
    QLocalServer server_;
};

}  // namespace orbitreel
