#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QThread>

namespace orbitreel {

namespace {

constexpr const char* ReopenRequest = "reopen\n";

}  // namespace

SingleInstance::SingleInstance(const QString& key, QObject* parent)
    : QObject(parent), key_(key), lock_(QDir(QDir::tempPath()).filePath(key + QStringLiteral(".lock"))) {
    // Only a lock whose owner has died is taken over, never a live one.
    lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::keyFor(unsigned userId, const QString& homeFolder) {
    const auto hash = QCryptographicHash::hash(homeFolder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("OrbitreelInstaller-%1-%2").arg(userId).arg(QString::fromLatin1(hash));
}

bool SingleInstance::claim() {
    if (!lock_.tryLock(0)) {
        // A lock that cannot even be attempted (no temporary folder) leaves
        // nothing to coordinate with: run alone rather than refuse to run.
        if (lock_.error() != QLockFile::LockFailedError) return true;
        (void)askRunningToReopen();
        return false;
    }
    // The lock is ours, so a socket of that name is a leftover of a crash.
    QLocalServer::removeServer(key_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (server_.listen(key_)) connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept() {
    while (auto* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == ReopenRequest) emit reopenRequested();
            }
        });
    }
}

bool SingleInstance::askRunningToReopen() {
    // The running installer may have taken the lock a moment ago and not be
    // listening yet; give it a little time.
    for (int attempt = 0; attempt < 20; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(key_);
        if (socket.waitForConnected(250)) {
            socket.write(ReopenRequest);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(100);
    }
    return false;
}

}  // namespace orbitreel
