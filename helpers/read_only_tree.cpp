#include "helpers/read_only_tree.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "helpers/folder_tree.h"

namespace orbitreel::helpers {

namespace {

constexpr mode_t WriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

Outcome<void> lock(int fd, const std::string& name) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return failure(posixMessage("cannot inspect " + name, errno));
    if (::fchmod(fd, st.st_mode & 07777 & ~WriteBits) != 0)
        return failure(posixMessage("cannot make read-only " + name, errno));
    return {};
}

}  // namespace

Outcome<void> removeWriteBits(int dirFd) {
    auto names = sortedNames(dirFd);
    if (!names) return failure(names.error());
    for (const std::string& name : *names) {
        auto st = statEntry(dirFd, name);
        if (!st) return failure(st.error());
        if (S_ISDIR(st->st_mode)) {
            auto sub = openFolder(dirFd, name);
            if (!sub) return failure(sub.error());
            auto locked = removeWriteBits(sub->get());
            if (!locked) return locked;
        } else if (S_ISREG(st->st_mode)) {
            // The entry was just seen as a file in a folder only we write.
            if (::fchmodat(dirFd, name.c_str(), st->st_mode & 07777 & ~WriteBits, 0) != 0)
                return failure(posixMessage("cannot make read-only " + name, errno));
        }
    }
    return lock(dirFd, ".");
}

}  // namespace orbitreel::helpers
