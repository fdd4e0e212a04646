#include "standins/common/tree_removal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/unique_fd.h"
#include "standins/common/folder_tree.h"
#include "standins/common/tree_depth.h"

namespace orbitreel::standins {

namespace {

// Opens the folder `name` to empty it and gives its owner all rights on it,
// through the folder's own descriptor: a link swapped in after the folder
// was looked at is neither followed nor changed.
Result<base::UniqueFd> unlockFolder(int dirFd, const std::string& name) {
    base::UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd && errno == EACCES) {
        // Its owner may not read it: the mode changes through a descriptor
        // that needs no permission, and the folder is opened through that
        // descriptor again, so both are the same folder.
        base::UniqueFd path(::openat(dirFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!path) return failure("cannot open folder " + name, errno);
        const std::string self = "/proc/self/fd/" + std::to_string(path.get());
        if (::chmod(self.c_str(), S_IRWXU) != 0) return failure("cannot unlock " + name, errno);
        fd.reset(::open(self.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (!fd) return failure("cannot open folder " + name, errno);
    if (::fchmod(fd.get(), S_IRWXU) != 0) return failure("cannot unlock " + name, errno);
    return fd;
}

Result<void> removeEntry(int dirFd, const std::string& name, std::size_t depth);

// `depth`: how many names below the top the entries of `dirFd` lie.
Result<void> removeBelow(int dirFd, const std::string& except, std::size_t depth) {
    auto names = sortedNames(dirFd);
    if (!names) return fail_with(names.error());
    for (const std::string& name : *names) {
        if (name == except) continue;
        auto removed = removeEntry(dirFd, name, depth);
        if (!removed) return removed;
    }
    return {};
}

Result<void> removeEntry(int dirFd, const std::string& name, std::size_t depth) {
    if (depth > MaxTreeDepth) return failure("folder nested too deep to remove: " + name);
    auto st = statEntry(dirFd, name);
    if (!st) return fail_with(st.error());
    if (!S_ISDIR(st->st_mode)) {
        if (::unlinkat(dirFd, name.c_str(), 0) != 0) return failure("cannot remove " + name, errno);
        return {};
    }
    auto sub = unlockFolder(dirFd, name);
    if (!sub) return fail_with(sub.error());
    auto emptied = removeBelow(sub->get(), {}, depth + 1);
    if (!emptied) return emptied;
    sub->reset();
    if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0) return failure("cannot remove " + name, errno);
    return {};
}

}  // namespace

Result<void> removeContents(int dirFd, const std::string& except) { return removeBelow(dirFd, except, 1); }

Result<void> removeTree(int dirFd, const std::string& name) { return removeEntry(dirFd, name, 0); }

}  // namespace orbitreel::standins
