#include "standins/ditto/tree_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "base/folder_entries.h"
#include "base/folder_walk.h"
#include "base/interrupted.h"
#include "base/own_item.h"
#include "base/tree_removal.h"
#include "base/unique_fd.h"
#include "standins/common/stream_chunk.h"
#include "standins/common/tree_rules.h"

namespace orbitreel::standins {

namespace {

// Permission bits only, never set-id or sticky ones: a set-user-id program
// copied where others can start it would run as its owner for them.
mode_t copiedMode(const struct stat& st) { return (st.st_mode & 0777) | S_IWUSR; }

// What `fd` holds, when it is the item seen before it was opened: the walk
// decides by what it saw, so something swapped in meanwhile is refused.
Result<struct stat> openedAsSeen(int fd, const struct stat& seen, const std::string& where) {
    struct stat opened {};
    if (::fstat(fd, &opened) != 0) return failure("cannot read " + where, errno);
    if (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino)
        return failure("replaced while being copied: " + where);
    return opened;
}

// The kernel copies without passing the bytes through us; where it cannot
// (another file system on an old kernel, a special file system), a chunked
// read and write does the same in bounded memory, from the file offsets the
// kernel's copy reached.
Result<void> copyContent(int from, int to, const std::string& name) {
    bool kernelCopy = true;
    for (;;) {
        if (kernelCopy) {
            const ssize_t copied = base::retryInterrupted(
                [&] { return ::copy_file_range(from, nullptr, to, nullptr, std::size_t{1} << 30, 0); });
            if (copied > 0) continue;
            if (copied == 0) return {};
            if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
                return failure("cannot copy " + name, errno);
            kernelCopy = false;
        }
        auto buffer = std::make_unique_for_overwrite<char[]>(StreamChunkSize);
        for (;;) {
            const ssize_t got = base::retryInterrupted([&] { return ::read(from, buffer.get(), StreamChunkSize); });
            if (got < 0) return failure("cannot read " + name, errno);
            if (got == 0) return {};
            for (ssize_t done = 0; done < got;) {
                const ssize_t put = base::retryInterrupted(
                    [&] { return ::write(to, buffer.get() + done, static_cast<std::size_t>(got - done)); });
                if (put < 0) return failure("cannot write " + name, errno);
                done += put;
            }
        }
    }
}

// Gives the folder `to` the mode and times of `st`, the source folder's:
// last, since the copies inside changed both.
Result<void> finishFolder(int to, const struct stat& st, const std::string& where) {
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (::fchmod(to, copiedMode(st)) != 0 || ::futimens(to, times) != 0)
        return failure("cannot finish " + where, errno);
    return {};
}

Result<void> copyFile(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                      const struct stat& seen, const std::string& where) {
    // Non-blocking: a pipe swapped in for the file must not hang the open.
    base::UniqueFd from(base::retryInterrupted(
        [&] { return ::openat(fromDir, fromName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
    if (!from) return failure("cannot open " + where, errno);
    auto st = openedAsSeen(from.get(), seen, where);
    if (!st) return fail_with(st.error());
    base::UniqueFd to(base::retryInterrupted([&] {
        return ::openat(toDir, toName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    }));
    if (!to) return failure("cannot create " + where, errno);
    auto copied = copyContent(from.get(), to.get(), where);
    if (!copied) return copied;
    const struct timespec times[2] = {st->st_atim, st->st_mtim};
    if (::fchmod(to.get(), copiedMode(*st)) != 0 || ::futimens(to.get(), times) != 0)
        return failure("cannot finish " + where, errno);
    return {};
}

Result<void> copyLink(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                      const struct stat& seen, const std::string& where) {
    auto target = base::readLinkAt(fromDir, fromName, where, readingWords);
    if (!target) return fail_with(target.error());
    const struct timespec times[2] = {seen.st_atim, seen.st_mtim};
    if (::symlinkat(target->c_str(), toDir, toName.c_str()) != 0 ||
        ::utimensat(toDir, toName.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        return failure("cannot create the link " + where, errno);
    return {};
}

// Copies what a walk of the source meets into the destination: a folder is
// made when it is met and finished when it is left.
class TreeCopier : public base::TreeVisitor {
public:
    explicit TreeCopier(int destination) : targets_{destination} {}

    Result<bool> visit(const base::WalkItem& item) override {
        const int to = targets_[item.path.size() - 1];
        const struct stat& st = item.status;
        if (S_ISDIR(st.st_mode)) {
            if (::mkdirat(to, item.name.c_str(), S_IRWXU) != 0) return failure("cannot create " + item.shown, errno);
            auto made = base::openFolder(to, item.name, item.shown, readingWords);
            if (!made) return fail_with(made.error());
            targets_.push_back(made->get());
            made_.push_back(std::move(*made));
            return true;
        }
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
            return failure("neither file, folder nor link: " + item.shown);
        auto copied = S_ISREG(st.st_mode) ? copyFile(item.folder, item.name, to, item.name, st, item.shown)
                                          : copyLink(item.folder, item.name, to, item.name, st, item.shown);
        if (!copied) return fail_with(copied.error());
        return false;
    }

    Result<void> leave(const base::WalkItem& item, int) override {
        auto finished = finishFolder(targets_.back(), item.status, item.shown);
        targets_.pop_back();
        made_.pop_back();
        return finished;
    }

private:
    std::vector<int> targets_;  // the destination's folder for each depth
    std::vector<base::UniqueFd> made_;
};

// Copies what the folder `from` holds into the folder `to`, then gives `to`
// the mode and times of `st`, the source folder's.
Result<void> fillFolder(int from, int to, const struct stat& st, const std::string& where) {
    TreeCopier copier(to);
    auto walked = base::walkFolder(from, where, ReadingTree, copier);
    if (!walked) return walked;
    return finishFolder(to, st, where);
}

Result<void> copyItem(int fromDir, const std::string& fromName, int toDir, const std::string& toName,
                      const std::string& where) {
    auto st = base::statEntry(fromDir, fromName, where, readingWords);
    if (!st) return fail_with(st.error());
    if (S_ISREG(st->st_mode)) return copyFile(fromDir, fromName, toDir, toName, *st, where);
    if (S_ISLNK(st->st_mode)) return copyLink(fromDir, fromName, toDir, toName, *st, where);
    if (!S_ISDIR(st->st_mode)) return failure("neither file, folder nor link: " + where);
    if (::mkdirat(toDir, toName.c_str(), S_IRWXU) != 0) return failure("cannot create " + where, errno);
    auto from = base::openSeenFolder(fromDir, fromName, *st, where, readingWords);
    if (!from) return fail_with(from.error());
    auto to = base::openFolder(toDir, toName, where, readingWords);
    if (!to) return fail_with(to.error());
    return fillFolder(from->fd.get(), to->get(), from->status, where);
}

struct Location {
    base::UniqueFd parent;
    std::string name;
};

// The parent folder as the kernel resolves it (links followed and ".."
// taken after them, as in any path) and the last name, itself not followed.
// Trailing slashes count for nothing: "a/" names what "a" names.
Result<Location> locate(const std::filesystem::path& path) {
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    const auto slash = text.rfind('/');
    std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") return failure("not a usable path: " + path.string());
    const std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
    Location location{base::UniqueFd(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)), name};
    if (!location.parent) return failure("cannot open " + parent, errno);
    return location;
}

// Whether the folder `parentFd` is the item `source` or lies below it: a copy
// there would copy itself for ever.
bool insideSource(int parentFd, const struct stat& source) {
    if (!S_ISDIR(source.st_mode)) return false;
    base::UniqueFd current(::openat(parentFd, ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int depth = 0; current && depth < 4096; ++depth) {
        struct stat st {};
        if (::fstat(current.get(), &st) != 0) return false;
        if (st.st_dev == source.st_dev && st.st_ino == source.st_ino) return true;
        base::UniqueFd parent(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        struct stat up {};
        if (!parent || ::fstat(parent.get(), &up) != 0 || (up.st_dev == st.st_dev && up.st_ino == st.st_ino))
            return false;
        current = std::move(parent);
    }
    return false;
}

// Fills `destination`, an empty folder of the user's own that the caller
// made, with what the folder `source` holds. On failure only what this copy
// made inside goes again; the folder itself is the caller's.
Result<void> fillExistingFolder(const Location& from, const Location& to, const std::filesystem::path& destination) {
    base::UniqueFd target(::openat(to.parent.get(), to.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!target) return failure("cannot open " + destination.string(), errno);
    struct stat st {};
    if (::fstat(target.get(), &st) != 0) return failure("cannot inspect " + destination.string(), errno);
    if (!base::isPersonsOwn(st)) return failure("destination is not the user's own: " + destination.string());
    auto inside = base::sortedNames(target.get(), destination.string(), readingWords);
    if (!inside) return fail_with(inside.error());
    if (!inside->empty()) return failure("destination exists and is not empty: " + destination.string());
    auto source = base::openFolder(from.parent.get(), from.name, from.name, readingWords);
    if (!source) return fail_with(source.error());
    if (::fstat(source->get(), &st) != 0) return failure("cannot read " + from.name, errno);
    if (!S_ISDIR(st.st_mode)) return failure("only a folder fills a folder: " + destination.string());
    if (insideSource(target.get(), st)) return failure("destination lies inside the source: " + destination.string());

    auto copied = fillFolder(source->get(), target.get(), st, destination.string());
    if (!copied) {
        auto removed = base::removeContents(target.get(), {}, destination.string(), RemovingTree);
        if (!removed)
            return failure(copied.error().localizedDescription() +
                           "; and removing the partial copy failed: " + removed.error().localizedDescription());
    }
    return copied;
}

}  // namespace

Result<void> copyTree(const std::filesystem::path& source, const std::filesystem::path& destination) {
    auto from = locate(source);
    if (!from) return fail_with(from.error());
    auto to = locate(destination);
    if (!to) return fail_with(to.error());
    struct stat st {};
    if (::fstatat(to->parent.get(), to->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(st.st_mode)) return fillExistingFolder(*from, *to, destination);
        return failure("destination exists: " + destination.string());
    }
    if (errno != ENOENT) return failure("cannot inspect " + destination.string(), errno);
    if (::fstatat(from->parent.get(), from->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return failure("cannot read " + source.string(), errno);
    if (insideSource(to->parent.get(), st))
        return failure("destination lies inside the source: " + destination.string());

    auto copied = copyItem(from->parent.get(), from->name, to->parent.get(), to->name, destination.string());
    if (!copied) {
        // Everything at the destination is ours: it did not exist before, and
        // the copy's depth is bounded as the removal's is.
        if (::fstatat(to->parent.get(), to->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            auto removed = base::removeTree(to->parent.get(), to->name, destination.string(), RemovingTree);
            if (!removed)
                return failure(copied.error().localizedDescription() +
                               "; and removing the partial copy failed: " + removed.error().localizedDescription());
        }
    }
    return copied;
}

}  // namespace orbitreel::standins
