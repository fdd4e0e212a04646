#include "base/tree_removal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/folder_entries.h"
#include "base/interrupted.h"
#include "base/own_item.h"
#include "base/unique_fd.h"

namespace orbitreel::base {

namespace {

constexpr mode_t OthersWrite = S_IWGRP | S_IWOTH;

Failure failure(const WalkRules& rules, int code, const std::string& shown) {
    return fail_with(rules.words(code, shown));
}

// Opens the folder `name` in `parent` to empty it: only a folder itself,
// never a link, and only the person's own. The mode is changed through a
// descriptor held on the folder, so a link swapped in for its name meanwhile
// changes nothing; it goes through /proc because a folder its owner may not
// read cannot be opened for reading yet, and fchmod takes no O_PATH
// descriptor.
Result<UniqueFd> openOwnFolder(int parent, const std::string& name, const std::string& shown, const WalkRules& rules) {
    UniqueFd pinned(retryInterrupted([&] { return ::openat(parent, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); }));
    if (!pinned) return failure(rules, errno, shown);
    struct stat st {};
    if (::fstat(pinned.get(), &st) != 0) return failure(rules, errno, shown);
    if (!S_ISDIR(st.st_mode)) return failure(rules, ENOTDIR, shown);
    if (!isPersonsOwnFolder(st)) return failure(rules, EPERM, shown);
    const mode_t mode = st.st_mode & 07777;
    const mode_t opened = (mode | S_IRWXU) & ~OthersWrite;
    if (mode != opened) {
        const std::string self = "/proc/self/fd/" + std::to_string(pinned.get());
        if (::chmod(self.c_str(), opened) != 0) return failure(rules, errno, shown);
    }
    return pinned;
}

Result<void> emptyFolder(int folder, const std::string& except, const std::string& shown, std::size_t depth,
                         const WalkRules& rules);

// `depth`: how many names below the top the entry lies.
Result<void> removeEntry(int parent, const std::string& name, const struct stat& st, const std::string& shown,
                         std::size_t depth, const WalkRules& rules) {
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(parent, name.c_str(), 0) != 0) return failure(rules, errno, shown);
        return {};
    }
    auto opened = openOwnFolder(parent, name, shown, rules);
    if (!opened) return fail_with(opened.error());
    auto emptied = emptyFolder(opened->get(), {}, shown, depth, rules);
    if (!emptied) return emptied;
    opened->reset();
    if (::unlinkat(parent, name.c_str(), AT_REMOVEDIR) != 0) return failure(rules, errno, shown);
    return {};
}

// Passes over the folder until one finds nothing to remove: whatever the
// person's other work put in it meanwhile goes too.
Result<void> emptyFolder(int folder, const std::string& except, const std::string& shown, std::size_t depth,
                         const WalkRules& rules) {
    for (;;) {
        auto names = sortedNames(folder, shown, rules.words);
        if (!names) return fail_with(names.error());
        bool removed = false;
        for (const std::string& name : *names) {
            if (name == except) continue;
            const std::string inner = joinShown(shown, name);
            if (depth + 1 > rules.maxDepth) return failure(rules, ENAMETOOLONG, inner);
            struct stat st {};
            if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                // Gone since the listing: nothing left to do for it.
                if (errno == ENOENT) continue;
                return failure(rules, errno, inner);
            }
            auto gone = removeEntry(folder, name, st, inner, depth + 1, rules);
            if (!gone) return gone;
            removed = true;
        }
        if (!removed) return {};
    }
}

}  // namespace

Result<void> removeTree(int folder, const std::string& name, const std::string& shown, const WalkRules& rules) {
    auto st = statEntry(folder, name, shown, rules.words);
    if (!st) return fail_with(st.error());
    return removeEntry(folder, name, *st, shown, 0, rules);
}

Result<void> removeContents(int folder, const std::string& except, const std::string& shown, const WalkRules& rules) {
    return emptyFolder(folder, except, shown, 0, rules);
}

}  // namespace orbitreel::base
