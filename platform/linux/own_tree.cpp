#include "platform/linux/own_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "platform/linux/posix_errors.h"

namespace orbitreel {

namespace {

Failure posixFailure(int code, const Path& path) { return fail_with(posixError(code, path)); }

constexpr mode_t OthersWrite = S_IWGRP | S_IWOTH;

// A folder being emptied: its entries, read through its own descriptor.
class Level {
public:
    Level(DIR* stream, std::string name, Path shown)
        : stream_(stream), name_(std::move(name)), shown_(std::move(shown)) {}
    Level(Level&& other) noexcept
        : stream_(std::exchange(other.stream_, nullptr)),
          name_(std::move(other.name_)),
          shown_(std::move(other.shown_)),
          removed_(other.removed_) {}
    Level(const Level&) = delete;
    Level& operator=(const Level&) = delete;
    Level& operator=(Level&&) = delete;
    ~Level() {
        if (stream_) ::closedir(stream_);
    }

    int fd() const { return ::dirfd(stream_); }
    // Its name in the folder above.
    const std::string& name() const { return name_; }
    const Path& shown() const { return shown_; }

    // The next name, or none at the end. Entries removed during a pass may
    // hide others from it, so a pass that removed anything is followed by
    // another from the start, until one finds the folder empty.
    Result<std::optional<std::string>> next() {
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(stream_);
            if (entry == nullptr) {
                if (errno != 0) return posixFailure(errno, shown_);
                if (removed_ == 0) return std::optional<std::string>();
                removed_ = 0;
                ::rewinddir(stream_);
                continue;
            }
            const std::string name = entry->d_name;
            if (name != "." && name != "..") return std::optional<std::string>(name);
        }
    }
    void countRemoval() { ++removed_; }

private:
    DIR* stream_;
    std::string name_;
    Path shown_;
    int removed_ = 0;
};

// Opens the folder `name` in `parent` to empty it: only a folder itself,
// never a link, and only the current user's. The mode is changed through a
// descriptor held on the folder, so a link swapped in for its name meanwhile
// changes nothing; it goes through /proc because a folder its owner may not
// read cannot be opened for reading yet, and fchmod takes no O_PATH
// descriptor.
Result<DIR*> openOwnFolder(int parent, const std::string& name, const Path& shown) {
    base::UniqueFd pinned(::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!pinned) return posixFailure(errno, shown);
    struct stat st {};
    if (::fstat(pinned.get(), &st) != 0) return posixFailure(errno, shown);
    if (!S_ISDIR(st.st_mode)) return posixFailure(ENOTDIR, shown);
    if (st.st_uid != ::geteuid()) return posixFailure(EPERM, shown);
    const mode_t mode = st.st_mode & 07777;
    const mode_t opened = (mode | S_IRWXU) & ~OthersWrite;
    if (mode != opened) {
        const std::string self = "/proc/self/fd/" + std::to_string(pinned.get());
        if (::chmod(self.c_str(), opened) != 0) return posixFailure(errno, shown);
    }
    base::UniqueFd readable(::openat(pinned.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!readable) return posixFailure(errno, shown);
    DIR* stream = ::fdopendir(readable.get());
    if (stream == nullptr) return posixFailure(errno, shown);
    (void)readable.release();
    return stream;
}

}  // namespace

Result<Location> locate(const Path& path) {
    Path item = path;
    if (!item.has_filename()) item = item.parent_path();
    const std::string name = item.filename().string();
    if (name.empty() || name == "." || name == "..") return posixFailure(EINVAL, path);
    const Path parent = item.has_parent_path() ? item.parent_path() : Path(".");
    base::UniqueFd fd(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!fd) return posixFailure(errno, path);
    return Location{std::move(fd), name};
}

Result<std::vector<std::string>> entryNames(int folder, const Path& shown) {
    base::UniqueFd readable(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!readable) return posixFailure(errno, shown);
    DIR* stream = ::fdopendir(readable.get());
    if (stream == nullptr) return posixFailure(errno, shown);
    (void)readable.release();
    std::vector<std::string> names;
    int code = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream);
        if (entry == nullptr) {
            code = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(stream);
    if (code != 0) return posixFailure(code, shown);
    return names;
}

Result<void> removeOwnTree(const Path& path) {
    auto location = locate(path);
    if (!location) return fail_with(location.error());
    return removeOwnTreeAt(location->parent.get(), location->name, path);
}

Result<void> removeOwnTreeAt(int top, const std::string& name, const Path& path) {
    struct stat st {};
    if (::fstatat(top, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return posixFailure(errno, path);
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(top, name.c_str(), 0) != 0) return posixFailure(errno, path);
        return {};
    }

    // One level per open folder, deepest last; each holds one descriptor.
    std::vector<Level> levels;
    auto first = openOwnFolder(top, name, path);
    if (!first) return fail_with(first.error());
    levels.emplace_back(*first, name, path);
    while (!levels.empty()) {
        Level& level = levels.back();
        auto name = level.next();
        if (!name) return fail_with(name.error());
        if (!*name) {
            // Emptied: remove it from the folder above.
            const std::string emptied = level.name();
            const Path shown = level.shown();
            levels.pop_back();
            const int parent = levels.empty() ? top : levels.back().fd();
            if (::unlinkat(parent, emptied.c_str(), AT_REMOVEDIR) != 0) return posixFailure(errno, shown);
            if (!levels.empty()) levels.back().countRemoval();
            continue;
        }
        const Path shown = level.shown() / **name;
        if (::fstatat(level.fd(), (*name)->c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            return posixFailure(errno, shown);
        }
        if (!S_ISDIR(st.st_mode)) {
            if (::unlinkat(level.fd(), (*name)->c_str(), 0) != 0) return posixFailure(errno, shown);
            level.countRemoval();
            continue;
        }
        if (static_cast<int>(levels.size()) >= OwnTreeMaxDepth) return posixFailure(ENAMETOOLONG, shown);
        auto inner = openOwnFolder(level.fd(), **name, shown);
        if (!inner) return fail_with(inner.error());
        levels.emplace_back(*inner, **name, shown);
    }
    return {};
}

bool isOwnFolder(const Path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

}  // namespace orbitreel
