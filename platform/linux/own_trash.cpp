#include "platform/linux/own_trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "base/interrupted.h"
#include "base/own_item.h"
#include "base/unique_fd.h"
#include "core/texts.h"
#include "platform/linux/posix_errors.h"

namespace orbitreel {

namespace {

Failure refused(const Path& shown) { return fail_with(PlatformError{"trash", 1, texts::notTrashed(shown.string())}); }

// A folder of the person's own at `name` in `parent`, made 0700 when
// missing; nothing else, and never through a link.
Result<base::UniqueFd> ownFolderIn(int parent, const char* name, const Path& shown) {
    if (::mkdirat(parent, name, 0700) != 0 && errno != EEXIST) return fail_with(posixError(errno, shown));
    base::UniqueFd fd(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !base::isPersonsOwn(st)) return refused(shown);
    return fd;
}

// The person's home Trash, made as needed.
Result<base::UniqueFd> homeTrash(const Path& shown) {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    const Path data = dataHome && *dataHome ? Path(dataHome) : Path(home ? home : "/") / ".local/share";
    std::error_code ec;
    std::filesystem::create_directories(data, ec);
    base::UniqueFd dataFd(::open(data.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dataFd) return fail_with(posixError(errno, data));
    return ownFolderIn(dataFd.get(), "Trash", shown);
}

// The top folder of the file system that holds `folder`, and its path.
Result<base::UniqueFd> topOfFileSystem(int folder, const Path& shown) {
    base::UniqueFd current(::openat(folder, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!current) return fail_with(posixError(errno, shown));
    for (int depth = 0; depth < 4096; ++depth) {
        base::UniqueFd parent(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat here {}, up {};
        if (!parent || ::fstat(current.get(), &here) != 0 || ::fstat(parent.get(), &up) != 0)
            return fail_with(posixError(errno, shown));
        if (up.st_dev != here.st_dev || up.st_ino == here.st_ino) return current;
        current = std::move(parent);
    }
    return refused(shown);
}

Path pathOf(int fd) {
    std::error_code ec;
    return std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec);
}

// The Trash for an item on the file system of `folder`: the home's when it
// is the same file system, else "$top/.Trash-<uid>", which must be the
// person's own folder, 0700, as the person's installer made it. The other
// kind of top-folder Trash, shared by everyone under the administrator's
// care, is not used. Gives the Trash and the folder that restored paths
// are relative to (empty for absolute ones).
struct TrashPlace {
    base::UniqueFd trash;
    Path relativeTo;
};

Result<TrashPlace> trashFor(int folder, const Path& shown) {
    struct stat item {};
    if (::fstat(folder, &item) != 0) return fail_with(posixError(errno, shown));
    auto home = homeTrash(shown);
    if (home) {
        struct stat st {};
        if (::fstat(home->get(), &st) == 0 && st.st_dev == item.st_dev) return TrashPlace{std::move(*home), {}};
    }
    auto top = topOfFileSystem(folder, shown);
    if (!top) return fail_with(top.error());
    const std::string name = ".Trash-" + std::to_string(::geteuid());
    auto trash = ownFolderIn(top->get(), name.c_str(), shown);
    if (!trash) return fail_with(trash.error());
    struct stat st {};
    if (::fstat(trash->get(), &st) != 0 || (st.st_mode & 07777) != 0700 || st.st_dev != item.st_dev)
        return refused(shown);
    return TrashPlace{std::move(*trash), pathOf(top->get())};
}

// Percent-encoded as the Trash's records want their paths.
std::string encoded(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '/' || c == '-' || c == '_' || c == '.' || c == '~';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string infoText(const Path& restoredTo) {
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    ::localtime_r(&now, &local);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    return "[Trash Info]\nPath=" + encoded(restoredTo.string()) + "\nDeletionDate=" + date + "\n";
}

Result<void> writeNew(int folder, const std::string& name, const std::string& text, const Path& shown) {
    base::UniqueFd fd(::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) return fail_with(posixError(errno, shown));
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n =
            base::retryInterrupted([&] { return ::write(fd.get(), text.data() + done, text.size() - done); });
        if (n < 0) return fail_with(posixError(errno, shown));
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd.get()) != 0) return fail_with(posixError(errno, shown));
    return {};
}

bool entryExists(int folder, const std::string& name) {
    struct stat st {};
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

}  // namespace

Result<void> trashEntry(int folder, const std::string& name, const std::string& trashedName, const Path& shownAt) {
    auto place = trashFor(folder, shownAt);
    if (!place) return fail_with(place.error());
    auto files = ownFolderIn(place->trash.get(), "files", shownAt);
    if (!files) return fail_with(files.error());
    auto info = ownFolderIn(place->trash.get(), "info", shownAt);
    if (!info) return fail_with(info.error());

    const std::string infoName = trashedName + ".trashinfo";
    if (entryExists(info->get(), infoName)) {
        // A record without its item is what a run killed between the two
        // steps below leaves; with its item, the name is taken.
        if (entryExists(files->get(), trashedName)) return fail_with(posixError(EEXIST, shownAt));
        if (::unlinkat(info->get(), infoName.c_str(), 0) != 0) return fail_with(posixError(errno, shownAt));
    }
    Path restoredTo = shownAt;
    if (!place->relativeTo.empty()) {
        const Path relative = shownAt.lexically_relative(place->relativeTo);
        if (!relative.empty() && *relative.begin() != "..") restoredTo = relative;
    }
    if (auto written = writeNew(info->get(), infoName, infoText(restoredTo), shownAt); !written) return written;
    if (renameat2(folder, name.c_str(), files->get(), trashedName.c_str(), RENAME_NOREPLACE) != 0) {
        const int code = errno;
        ::unlinkat(info->get(), infoName.c_str(), 0);
        return fail_with(posixError(code, shownAt));
    }
    return {};
}

}  // namespace orbitreel
