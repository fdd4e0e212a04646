#include "app/instance_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace orbitreel {

namespace {

// A real folder (not a link to one), ours, and closed to group and others.
bool isPrivateFolder(const Path& folder) {
    struct stat info {};
    return lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

// `folder`, made if missing. A file, a link, another user's folder or one
// open to others at its name is replaced: nothing in it can be trusted, and
// what cannot be removed is moved out of the way.
std::optional<Path> privateFolder(const Path& folder) {
    std::error_code ignored;
    std::filesystem::create_directories(folder.parent_path(), ignored);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (isPrivateFolder(folder)) return folder;

    std::error_code removal;
    std::filesystem::remove_all(folder, removal);
    if (removal) {
        std::filesystem::rename(folder, folder.string() + "-untrusted-" + std::to_string(getpid()), ignored);
    }
    if (mkdir(folder.c_str(), 0700) != 0 || !isPrivateFolder(folder)) return std::nullopt;
    return folder;
}

}  // namespace

std::optional<Path> instanceFolder(const Path& runtimeFolder, const Path& home) {
    if (runtimeFolder.is_absolute() && isPrivateFolder(runtimeFolder)) {
        if (auto folder = privateFolder(runtimeFolder / "OrbitreelInstaller")) return folder;
    }
    if (!home.is_absolute()) return std::nullopt;
    return privateFolder(home / "Library/Caches/OrbitreelInstaller-Instance");
}

}  // namespace orbitreel
