#include "platform/linux/own_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/folder_entries.h"
#include "base/interrupted.h"
#include "base/own_item.h"
#include "base/tree_removal.h"
#include "platform/linux/posix_errors.h"

namespace orbitreel {

namespace {

Error spanish(int code, const std::string& shown) { return posixError(code, Path(shown)); }

constexpr base::WalkRules OwnTreeRules{OwnTreeMaxDepth, spanish};

}  // namespace

Result<Location> locate(const Path& path) {
    Path item = path;
    if (!item.has_filename()) item = item.parent_path();
    const std::string name = item.filename().string();
    if (name.empty() || name == "." || name == "..") return fail_with(posixError(EINVAL, path));
    const Path parent = item.has_parent_path() ? item.parent_path() : Path(".");
    base::UniqueFd fd(base::retryInterrupted([&] { return ::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
    if (!fd) return fail_with(posixError(errno, path));
    return Location{std::move(fd), name};
}

Result<std::vector<std::string>> entryNames(int folder, const Path& shown) {
    return base::sortedNames(folder, shown.string(), spanish);
}

Result<void> removeOwnTree(const Path& path) {
    auto location = locate(path);
    if (!location) return fail_with(location.error());
    return removeOwnTreeAt(location->parent.get(), location->name, path);
}

Result<void> removeOwnTreeAt(int folder, const std::string& name, const Path& shown) {
    return base::removeTree(folder, name, shown.string(), OwnTreeRules);
}

bool isOwnFolder(const Path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && base::isPersonsOwnFolder(st);
}

}  // namespace orbitreel
