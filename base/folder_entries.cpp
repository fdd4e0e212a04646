#include "base/folder_entries.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "base/interrupted.h"

namespace orbitreel::base {

std::string joinShown(const std::string& shown, const std::string& name) {
    if (shown.empty()) return name;
    if (shown.back() == '/') return shown + name;
    return shown + "/" + name;
}

Result<UniqueFd> openFolder(int folder, const std::string& name, const std::string& shown, Wording words) {
    UniqueFd fd(retryInterrupted(
        [&] { return ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
    if (!fd) return fail_with(words(errno, shown));
    return fd;
}

Result<UniqueFd> openFolderAtPath(const std::string& path, Wording words) {
    std::string text = path;
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return openFolder(AT_FDCWD, text, path, words);
}

Result<std::vector<std::string>> sortedNames(int folder, const std::string& shown, Wording words) {
    // A descriptor of its own, read from the start whatever `folder` read.
    UniqueFd readable(retryInterrupted([&] { return ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
    if (!readable) return fail_with(words(errno, shown));
    DIR* stream = ::fdopendir(readable.get());
    if (stream == nullptr) return fail_with(words(errno, shown));
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
        std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(std::move(name));
    }
    ::closedir(stream);
    if (code != 0) return fail_with(words(code, shown));
    std::sort(names.begin(), names.end());
    return names;
}

Result<struct stat> statEntry(int folder, const std::string& name, const std::string& shown, Wording words) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return fail_with(words(errno, shown));
    return st;
}

Result<std::string> readLinkAt(int folder, const std::string& name, const std::string& shown, Wording words) {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlinkat(folder, name.c_str(), target.data(), target.size());
    if (length < 0) return fail_with(words(errno, shown));
    if (static_cast<std::size_t>(length) >= target.size()) return fail_with(words(ENAMETOOLONG, shown));
    target.resize(static_cast<std::size_t>(length));
    return target;
}

}  // namespace orbitreel::base
