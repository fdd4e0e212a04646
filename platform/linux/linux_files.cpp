// Files on Linux: POSIX calls, renameat2(RENAME_NOREPLACE) for moves and
// renameat2(RENAME_EXCHANGE) for exchanges; private folders and the Trash by
// descriptor.

#include "platform/linux/linux_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/interrupted.h"
#include "base/own_item.h"
#include "base/unique_fd.h"
#include "platform/linux/item_identity.h"
#include "platform/linux/own_tree.h"
#include "platform/linux/private_folder.h"
#include "platform/linux/posix_errors.h"

namespace orbitreel {

namespace {


int renameWith(const Path& from, const Path& to, unsigned flags) {
    return static_cast<int>(::syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), flags));
}

int renameNoReplace(const Path& from, const Path& to) { return renameWith(from, to, RENAME_NOREPLACE); }

Result<void> writeAll(int fd, std::span<const std::uint8_t> bytes, const Path& path) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = base::retryInterrupted([&] { return ::write(fd, bytes.data() + done, bytes.size() - done); });
        if (n < 0) return posixFailure(errno, path);
        done += static_cast<std::size_t>(n);
    }
    return {};
}

// Closes a descriptor at most once; later calls succeed and do nothing.
Result<void> closeOnce(base::UniqueFd& fd, const Path& path) {
    if (!fd) return {};
    if (::close(fd.release()) != 0) return posixFailure(errno, path);
    return {};
}

class PosixReader : public FileReader {
public:
    PosixReader(base::UniqueFd fd, Path path) : fd_(std::move(fd)), path_(std::move(path)) {}
    // Fills the buffer unless the file ends first.
    Result<std::size_t> read(std::span<std::uint8_t> buffer) override {
        if (!fd_) return posixFailure(EBADF, path_);
        std::size_t done = 0;
        while (done < buffer.size()) {
            const ssize_t n =
                base::retryInterrupted([&] { return ::read(fd_.get(), buffer.data() + done, buffer.size() - done); });
            if (n < 0) return posixFailure(errno, path_);
            if (n == 0) break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }
    Result<void> close() override { return closeOnce(fd_, path_); }

private:
    base::UniqueFd fd_;
    Path path_;
};

class PosixAppender : public FileAppender {
public:
    PosixAppender(base::UniqueFd fd, Path path) : fd_(std::move(fd)), path_(std::move(path)) {}
    Result<void> seekToEnd() override {
        if (::lseek(fd_.get(), 0, SEEK_END) < 0) return posixFailure(errno, path_);
        return {};
    }
    Result<void> write(std::span<const std::uint8_t> bytes) override { return writeAll(fd_.get(), bytes, path_); }
    Result<void> close() override { return closeOnce(fd_, path_); }

private:
    base::UniqueFd fd_;
    Path path_;
};

// Copies the item `name` in the folder `fromDir` (file, link or folder tree;
// `from` is its path, for errors) to `to`, which must not exist, keeping
// permission bits and times. What is copied is what was opened, checked to
// be the item looked at.
Result<void> copyEntry(int fromDir, const std::string& name, const Path& from, const Path& to) {
    struct stat seen {};
    if (::fstatat(fromDir, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) return posixFailure(errno, from);
    if (S_ISLNK(seen.st_mode)) {
        std::string target(PATH_MAX, '\0');
        ssize_t length = ::readlinkat(fromDir, name.c_str(), target.data(), target.size());
        if (length < 0) return posixFailure(errno, from);
        if (static_cast<std::size_t>(length) == target.size()) return posixFailure(ENAMETOOLONG, from);
        target.resize(static_cast<std::size_t>(length));
        if (::symlink(target.c_str(), to.c_str()) != 0) return posixFailure(errno, to);
        // A link has no mode of its own, and its times are set on itself.
        const struct timespec times[2] = {seen.st_atim, seen.st_mtim};
        ::utimensat(AT_FDCWD, to.c_str(), times, AT_SYMLINK_NOFOLLOW);
        return {};
    }
    const bool folder = S_ISDIR(seen.st_mode);
    if (!folder && !S_ISREG(seen.st_mode)) return posixFailure(ENOTSUP, from);
    // Non-blocking: a pipe swapped in for a file must not hang the open.
    base::UniqueFd in(
        ::openat(fromDir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (folder ? O_DIRECTORY : 0)));
    if (!in) return posixFailure(errno, from);
    struct stat st {};
    if (::fstat(in.get(), &st) != 0) return posixFailure(errno, from);
    if (st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) return posixFailure(ESTALE, from);

    base::UniqueFd made;
    if (folder) {
        if (::mkdir(to.c_str(), 0700) != 0) return posixFailure(errno, to);
        // The listing takes the descriptor over: one per level of the tree.
        DIR* entries = ::fdopendir(in.get());
        if (entries == nullptr) return posixFailure(errno, from);
        std::unique_ptr<DIR, int (*)(DIR*)> closing(entries, ::closedir);
        const int listed = in.release();
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(entries);
            if (entry == nullptr) break;
            const std::string child = entry->d_name;
            if (child == "." || child == "..") continue;
            auto copied = copyEntry(listed, child, from / child, to / child);
            if (!copied) return copied;
        }
        if (errno != 0) return posixFailure(errno, from);
        made.reset(::open(to.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!made) return posixFailure(errno, to);
    } else {
        made.reset(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!made) return posixFailure(errno, to);
        std::vector<std::uint8_t> buffer(1 << 20);
        for (;;) {
            const ssize_t n = base::retryInterrupted([&] { return ::read(in.get(), buffer.data(), buffer.size()); });
            if (n < 0) return posixFailure(errno, from);
            if (n == 0) break;
            auto written = writeAll(made.get(), std::span(buffer.data(), static_cast<std::size_t>(n)), to);
            if (!written) return written;
        }
    }
    // Through the descriptor of what was just made, never a name again.
    // Permission bits only: a set-id or sticky bit is not carried to
    // another file system's folders, which others may share.
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    ::fchmod(made.get(), st.st_mode & 0777);
    ::futimens(made.get(), times);
    if (::close(made.release()) != 0) return posixFailure(errno, to);
    return {};
}

// Copies one item (file, link or folder tree) to `to`, which must not exist,
// keeping permission bits and times. Used only when a move crosses file
// systems. Not ditto's tree copy: a move keeps permission bits exactly and
// sets them as best it can, where ditto makes the copy the owner's to write
// and fails when it cannot; and a move's failures carry the errno and item
// for the user's message, where ditto's are English lines for stderr.
Result<void> copyTree(const Path& from, const Path& to) { return copyEntry(AT_FDCWD, from.string(), from, to); }

class LinuxFiles : public Files {
public:
    Result<void> createDirectories(const Path& folder) override {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec) return posixFailure(ec.value(), folder);
        if (!std::filesystem::is_directory(folder, ec)) return posixFailure(ENOTDIR, folder);
        return {};
    }

    bool exists(const Path& path) override {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0;
    }

    bool isWritable(const Path& path) override {
        // As the effective user sees it; read-only mounts answer EROFS.
        return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
    }

    Result<std::int64_t> fileSize(const Path& path) override {
        // The item itself, not what a link points at.
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return posixFailure(errno, path);
        return static_cast<std::int64_t>(st.st_size);
    }

    Result<void> move(const Path& from, const Path& to) override {
        if (renameNoReplace(from, to) == 0) return {};
        if (errno != EXDEV) return posixFailure(errno, from);
        // Across file systems: copy beside the destination under a hidden
        // name, put it in place without replacing anything, then remove the
        // source, so the destination appears whole or not at all.
        if (exists(to)) return posixFailure(EEXIST, to);
        Path staging = to.parent_path() / (".moving-" + to.filename().string() + "-" + std::to_string(::getpid()));
        auto copied = copyTree(from, staging);
        if (!copied) {
            if (exists(staging)) ignore(removeOwnTree(staging));
            return copied;
        }
        if (renameNoReplace(staging, to) != 0) {
            int code = errno;
            ignore(removeOwnTree(staging));
            return posixFailure(code, to);
        }
        return removeOwnTree(from);
    }

    Result<Exchange> exchange(const Path& first, const Path& second) override {
        if (renameWith(first, second, RENAME_EXCHANGE) == 0) return Exchange::done;
        // What a file system (or a kernel) without the exchange answers.
        if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) return Exchange::unsupported;
        return posixFailure(errno, first);
    }

    Result<void> remove(const Path& path) override { return removeOwnTree(path); }

    Result<std::vector<std::string>> listFolder(const Path& folder) override {
        base::UniqueFd fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!fd) return posixFailure(errno, folder);
        return entryNames(fd.get(), folder);
    }

    bool isOwnFolder(const Path& path) override { return orbitreel::isOwnFolder(path); }

    Result<ItemIdentity> identityAt(const Path& path) override {
        return orbitreel::identityAt(AT_FDCWD, path.string(), path);
    }

    Result<std::unique_ptr<PrivateFolder>> makePrivateFolder(const Path& path) override {
        return makePrivateFolderAt(path);
    }

    Result<std::unique_ptr<PrivateFolder>> findPrivateFolder(const Path& parent,
                                                             const ItemIdentity& identity) override {
        return findPrivateFolderIn(parent, identity);
    }

    Result<Bytes> readAll(const Path& path) override {
        base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) return posixFailure(errno, path);
        PosixReader reader(std::move(fd), path);
        Bytes data;
        std::vector<std::uint8_t> chunk(1 << 16);
        for (;;) {
            auto n = reader.read(chunk);
            if (!n) return fail_with(n.error());
            if (*n == 0) break;
            data.insert(data.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(*n));
        }
        return data;
    }

    Result<void> write(const Path& path, std::span<const std::uint8_t> bytes, bool atomic) override {
        if (!atomic) {
            base::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
            if (!fd) return posixFailure(errno, path);
            auto written = writeAll(fd.get(), bytes, path);
            auto closed = closeOnce(fd, path);
            return written ? closed : written;
        }
        // Atomic: a temporary file beside the target, flushed, then renamed
        // over it.
        std::string pattern = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
        base::UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
        if (!fd) return posixFailure(errno, path);
        Path temporary = pattern;
        auto written = writeAll(fd.get(), bytes, temporary);
        if (written && ::fchmod(fd.get(), 0644) != 0) written = posixFailure(errno, temporary);
        if (written && ::fsync(fd.get()) != 0) written = posixFailure(errno, temporary);
        if (auto closed = closeOnce(fd, temporary); !closed && written) written = closed;
        if (written && ::rename(temporary.c_str(), path.c_str()) != 0) written = posixFailure(errno, path);
        if (!written) ::unlink(temporary.c_str());
        return written;
    }

    Result<void> writePrivately(const Path& path, std::span<const std::uint8_t> bytes) override {
        const Path folder = path.parent_path();
        if (auto made = createDirectories(folder.parent_path()); !made) return made;
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return posixFailure(errno, folder);
        base::UniqueFd folderFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folderFd) return posixFailure(errno, folder);
        struct stat st {};
        if (::fstat(folderFd.get(), &st) != 0) return posixFailure(errno, folder);
        if (!base::isPersonsPrivate(st)) return posixFailure(EPERM, folder);
        const std::string name = path.filename().string();
        const std::string temporary = "." + name + ".new";
        ::unlinkat(folderFd.get(), temporary.c_str(), 0);
        base::UniqueFd fd(
            ::openat(folderFd.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) return posixFailure(errno, path);
        auto written = writeAll(fd.get(), bytes, path);
        if (written && ::fsync(fd.get()) != 0) written = posixFailure(errno, path);
        if (auto closed = closeOnce(fd, path); !closed && written) written = closed;
        if (written && ::renameat(folderFd.get(), temporary.c_str(), folderFd.get(), name.c_str()) != 0)
            written = posixFailure(errno, path);
        if (written && ::fsync(folderFd.get()) != 0) written = posixFailure(errno, folder);
        if (!written) ::unlinkat(folderFd.get(), temporary.c_str(), 0);
        return written;
    }

    Result<void> create(const Path& path, std::span<const std::uint8_t> bytes) override {
        base::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (!fd) return posixFailure(errno, path);
        auto written = writeAll(fd.get(), bytes, path);
        auto closed = closeOnce(fd, path);
        return written ? closed : written;
    }

    Result<std::unique_ptr<FileReader>> openForReading(const Path& path) override {
        base::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) return posixFailure(errno, path);
        return std::unique_ptr<FileReader>(std::make_unique<PosixReader>(std::move(fd), path));
    }

    Result<std::unique_ptr<FileAppender>> openForWriting(const Path& path) override {
        base::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) return posixFailure(errno, path);
        return std::unique_ptr<FileAppender>(std::make_unique<PosixAppender>(std::move(fd), path));
    }
};

}  // namespace

std::unique_ptr<Files> makeLinuxFiles() { return std::make_unique<LinuxFiles>(); }

}  // namespace orbitreel
