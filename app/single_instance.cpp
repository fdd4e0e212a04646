#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QLocalSocket>
#include <QThread>
#include <cerrno>
#include <filesystem>

#include "base/own_item.h"

namespace orbitreel {

namespace {

constexpr const char* ReopenRequest = "reopen\n";

// The lock file, never through a link; whatever else holds its name (a link,
// a folder, another user's file) is removed first. The folder is private, so
// nobody else can swap anything in during a removal. None when it cannot be
// had.
base::UniqueFd openLockFile(const std::string& path) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        base::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        struct stat info {};
        if (fd && fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && base::isPersonsOwn(info)) return fd;
        fd.reset();
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    return {};
}

// Whether `path` still names the file open as `fd`: the installer before us
// removes its lock as it ends, maybe just after we opened it.
bool stillNamed(int fd, const std::string& path) {
    struct stat opened {};
    struct stat named {};
    return fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

}  // namespace

SingleInstance::SingleInstance(const QString& folder, const QString& key, QObject* parent) : QObject(parent) {
    if (folder.isEmpty()) return;
    // Reached through a descriptor: a socket's whole path must fit in a
    // socket address, however deep the folder lies.
    folder_.reset(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder_) return;
    const QString inFolder = QStringLiteral("/proc/self/fd/%1/").arg(folder_.get());
    lockPath_ = inFolder + key + QStringLiteral(".lock");
    socketPath_ = inFolder + key + QStringLiteral(".socket");
}

SingleInstance::~SingleInstance() { release(); }

QString SingleInstance::keyFor(uid_t user) { return QStringLiteral("user-%1").arg(user); }

SingleInstance::Claim SingleInstance::claim() {
    // Nowhere safe to coordinate: run rather than refuse to run.
    if (lockPath_.isEmpty()) return Claim::unguarded;
    const std::string path = lockPath_.toStdString();
    for (int attempt = 0; attempt < 3; ++attempt) {
        base::UniqueFd fd = openLockFile(path);
        if (!fd) return Claim::unguarded;
        // The kernel lets go of the lock when its holder dies, however it dies.
        if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            fd.reset();
            if (error != EWOULDBLOCK) return Claim::unguarded;
            (void)askRunningToReopen();
            return Claim::elsewhere;
        }
        if (!stillNamed(fd.get(), path)) continue;
        lock_ = std::move(fd);
        listen();
        return Claim::held;
    }
    return Claim::unguarded;
}

void SingleInstance::listen() {
    // The lock is ours, so whatever holds the socket's name is a leftover.
    std::error_code ignored;
    std::filesystem::remove_all(socketPath_.toStdString(), ignored);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (server_.listen(socketPath_)) connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

void SingleInstance::release() {
    if (!lock_) return;
    server_.close();
    std::error_code ignored;
    std::filesystem::remove(socketPath_.toStdString(), ignored);
    // Removed while still locked: one who opened it meanwhile finds it no
    // longer named so once it gets the lock, and starts over.
    std::filesystem::remove(lockPath_.toStdString(), ignored);
    lock_.reset();
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
    const std::string path = socketPath_.toStdString();
    // The running installer may have taken the lock a moment ago and not be
    // listening yet; give it a little time.
    for (int attempt = 0; attempt < 20; ++attempt) {
        struct stat info {};
        // Only our own installer's socket hears from us.
        if (lstat(path.c_str(), &info) == 0 && (!S_ISSOCK(info.st_mode) || !base::isPersonsOwn(info))) return false;
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
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

#include "moc_single_instance.cpp"
