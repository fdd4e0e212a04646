#include "standins/common/folder_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace orbitreel::standins {

Result<base::UniqueFd> openFolder(int dirFd, const std::string& name) {
    base::UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) return failure("cannot open folder " + name, errno);
    return fd;
}

Result<base::UniqueFd> openFolder(const std::filesystem::path& path) {
    // "dir/" names what "dir" names; with the slash the kernel would follow
    // a link there.
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return openFolder(AT_FDCWD, text);
}

Result<std::vector<std::string>> sortedNames(int dirFd) {
    int copy = ::dup(dirFd);
    if (copy < 0) return failure("cannot list folder", errno);
    DIR* dir = ::fdopendir(copy);
    if (dir == nullptr) {
        int err = errno;
        ::close(copy);
        return failure("cannot list folder", err);
    }
    // The copy shares the position of `dirFd`; start from the beginning.
    ::rewinddir(dir);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(dir);
        if (entry == nullptr) break;
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    int err = errno;
    ::closedir(dir);
    if (err != 0) return failure("cannot list folder", err);
    std::sort(names.begin(), names.end());
    return names;
}

Result<struct stat> statEntry(int dirFd, const std::string& name) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return failure("cannot inspect " + name, errno);
    return st;
}

Result<std::string> readLinkAt(int dirFd, const std::string& name) {
    std::string target(PATH_MAX, '\0');
    ssize_t length = ::readlinkat(dirFd, name.c_str(), target.data(), target.size());
    if (length < 0) return failure("cannot read link " + name, errno);
    if (static_cast<std::size_t>(length) >= target.size()) return failure("link target too long: " + name);
    target.resize(static_cast<std::size_t>(length));
    return target;
}

std::string joinRelative(const std::string& prefix, const std::string& name) {
    return prefix.empty() ? name : prefix + "/" + name;
}

}  // namespace orbitreel::standins
