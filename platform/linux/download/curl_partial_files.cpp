#include "platform/linux/download/curl_partial_files.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <system_error>

#include "base/hex.h"
#include "base/interrupted.h"
#include "platform/linux/download/curl_errors.h"
#include "platform/linux/download/curl_resume_data.h"

namespace orbitreel {

namespace {

constexpr std::size_t WriteBufferSize = 1 << 20;
constexpr const char* ResponsePrefix = "response-";
constexpr const char* ResponseSuffix = ".tmp";

std::string randomHex() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        // Uniqueness is all we need; O_EXCL catches the rest.
        static std::atomic<unsigned> counter{0};
        auto n = static_cast<unsigned>(getpid()) ^ (counter++ << 16) ^ static_cast<unsigned>(time(nullptr));
        for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(n >> ((i % 4) * 8));
    }
    return base::toHex(bytes);
}

bool isResponseName(const std::string& name) {
    const std::string prefix = ResponsePrefix, suffix = ResponseSuffix;
    return name.size() > prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix);
}

// Opens with the exclusive lock taken, or fails with EWOULDBLOCK when some
// other task holds it.
base::UniqueFd openLocked(const Path& path, int flags, mode_t mode = 0) {
    base::UniqueFd fd(::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, mode));
    if (fd && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        int saved = errno;
        fd.reset();
        errno = saved;
    }
    return fd;
}

Failure fileFailure(int code) { return fail_with(downloadFileError(code)); }

Result<void> ensureFolder(const Path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) return fileFailure(ec.value());
    if (!std::filesystem::is_directory(folder, ec)) return fileFailure(ENOTDIR);
    return {};
}

}  // namespace

PartialFile::PartialFile(base::UniqueFd fd, Path path, std::int64_t size)
    : fd_(std::move(fd)), path_(std::move(path)), onDisk_(size) {
    buffer_.reserve(WriteBufferSize);
}

bool PartialFile::writeOut(const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = base::retryInterrupted([&] { return ::write(fd_.get(), data, length); });
        if (n < 0) {
            error_ = errno;
            // Keep the file exactly as long as what we count as written.
            if (::ftruncate(fd_.get(), onDisk_) != 0) {
                // The count stays the truth for resuming; nothing more to do.
            }
            ::lseek(fd_.get(), onDisk_, SEEK_SET);
            return false;
        }
        onDisk_ += n;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

bool PartialFile::append(const char* data, std::size_t length) {
    if (!fd_ || error_ != 0) return false;
    auto bytes = reinterpret_cast<const std::uint8_t*>(data);
    if (buffer_.size() + length > WriteBufferSize) {
        if (!flush()) return false;
        if (length >= WriteBufferSize) return writeOut(bytes, length);
    }
    buffer_.insert(buffer_.end(), bytes, bytes + length);
    return true;
}

bool PartialFile::flush() {
    if (!fd_ || error_ != 0) return false;
    if (buffer_.empty()) return true;
    bool ok = writeOut(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
}

bool PartialFile::restart() {
    if (!fd_) return false;
    buffer_.clear();
    if (::ftruncate(fd_.get(), 0) != 0 || ::lseek(fd_.get(), 0, SEEK_SET) != 0) {
        error_ = errno;
        return false;
    }
    onDisk_ = 0;
    error_ = 0;
    return true;
}

bool PartialFile::close() {
    if (!fd_) return error_ == 0;
    bool ok = flush();
    if (::close(fd_.release()) != 0 && ok) {
        error_ = errno;
        ok = false;
    }
    return ok;
}

std::string PartialFolder::newPartialName() { return "download-" + randomHex() + ".part"; }

Result<PartialFile> PartialFolder::create(const std::string& name) {
    if (auto made = ensureFolder(folder_); !made) return fail_with(made.error());
    Path path = folder_ / name;
    auto fd = openLocked(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (!fd) return fileFailure(errno);
    return PartialFile(std::move(fd), path, 0);
}

Result<PartialFile> PartialFolder::reopen(const std::string& name, std::int64_t size) {
    Path path = folder_ / name;
    auto fd = openLocked(path, O_WRONLY);
    if (!fd) {
        int code = errno;
        if (code == ENOENT || code == ELOOP || code == EWOULDBLOCK || code == ENOTDIR || code == EISDIR)
            return fail_with(missingPartialDownloadError());
        return fileFailure(code);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != size ||
        ::lseek(fd.get(), size, SEEK_SET) != size)
        return fail_with(missingPartialDownloadError());
    return PartialFile(std::move(fd), path, size);
}

Result<PartialFile> PartialFolder::createEmptyResponseFile() {
    if (auto made = ensureFolder(folder_); !made) return fail_with(made.error());
    Path path = folder_ / (std::string(ResponsePrefix) + randomHex() + ResponseSuffix);
    auto fd = openLocked(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (!fd) return fileFailure(errno);
    return PartialFile(std::move(fd), path, 0);
}

void PartialFolder::prune(const std::set<std::string>& keep) const {
    std::error_code ec;
    std::filesystem::directory_iterator entries(folder_, ec);
    if (ec) return;
    for (const auto& entry : entries) {
        std::string name = entry.path().filename().string();
        if (keep.contains(name)) continue;
        if (!isPartialName(name) && !isResponseName(name)) continue;
        if (!entry.is_regular_file(ec) || entry.is_symlink(ec)) continue;
        // Held by a running task (here or in another process): leave it.
        auto fd = openLocked(entry.path(), O_RDONLY);
        if (!fd) continue;
        std::filesystem::remove(entry.path(), ec);
    }
}

}  // namespace orbitreel
