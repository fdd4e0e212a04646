#include "app/instance_folder.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "base/own_item.h"
#include "core/identity.h"
#include "platform/linux/own_tree.h"

namespace orbitreel {

namespace {

// A real folder (not a link to one), ours, and closed to group and others.
bool isPrivateFolder(const Path& folder) {
    struct stat info {};
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && base::isPersonsPrivate(info);
}

// `folder`, made if missing. A file, a link, another user's folder or one
// open to others at its name is replaced: nothing in it can be trusted. It
// is renamed out of the way first, which follows nothing, and then removed
// when it is ours.
std::optional<Path> privateFolder(const Path& folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (isPrivateFolder(folder)) return folder;

    // A free name beside it; rename would replace an empty folder there.
    for (int attempt = 0;; ++attempt) {
        if (attempt == 100) return std::nullopt;
        const Path aside = folder.string() + "-untrusted-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
        struct stat info {};
        if (lstat(aside.c_str(), &info) == 0) continue;
        if (::rename(folder.c_str(), aside.c_str()) != 0) return std::nullopt;
        ignore(removeOwnTree(aside));
        break;
    }
    if (mkdir(folder.c_str(), 0700) != 0 || !isPrivateFolder(folder)) return std::nullopt;
    return folder;
}

}  // namespace

std::optional<Path> instanceFolder(const Path& home) {
    if (!home.is_absolute()) return std::nullopt;
    return privateFolder(home / InstanceFolder);
}

}  // namespace orbitreel
