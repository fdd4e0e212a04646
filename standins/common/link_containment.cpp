#include "standins/common/link_containment.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <deque>

#include "base/folder_entries.h"
#include "standins/common/tree_rules.h"

namespace orbitreel::standins {

namespace {

// As the kernel's limit on links followed in one lookup.
constexpr int MaxLinksFollowed = 40;

}  // namespace

Result<void> checkLinkStaysInside(const LinkLookup& lookup, const PathComponents& linkPath, std::string_view target) {
    const std::string where = joinPath(linkPath);
    if (target.empty()) return failure("link with an empty target: " + where);
    if (target.front() == '/') return failure("link to an absolute path: " + where + " -> " + std::string(target));

    PathComponents resolved(linkPath.begin(), linkPath.end() - (linkPath.empty() ? 0 : 1));
    PathComponents split = splitPath(target);
    std::deque<std::string> pending(split.begin(), split.end());
    int followed = 0;
    while (!pending.empty()) {
        std::string part = std::move(pending.front());
        pending.pop_front();
        if (part == "..") {
            if (resolved.empty()) return failure("link leaves the tree: " + where + " -> " + std::string(target));
            resolved.pop_back();
            continue;
        }
        resolved.push_back(std::move(part));
        // Every earlier component is a real folder (or missing), so this
        // lookup follows no link but possibly the last component.
        auto next = lookup(joinPath(resolved));
        if (!next) return fail_with(next.error());
        if (!*next) continue;
        if (++followed > MaxLinksFollowed) return failure("loop of links: " + where);
        if ((*next)->empty() || (*next)->front() == '/')
            return failure("link leaves the tree: " + where + " through " + joinPath(resolved));
        resolved.pop_back();
        PathComponents more = splitPath(**next);
        pending.insert(pending.begin(), more.begin(), more.end());
    }
    return {};
}

Result<void> checkLinkStaysInside(int rootFd, const PathComponents& linkPath, std::string_view target) {
    auto onDisk = [rootFd](const std::string& path) -> Result<std::optional<std::string>> {
        struct stat st {};
        if (::fstatat(rootFd, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(st.st_mode))
            return std::optional<std::string>();
        auto target = base::readLinkAt(rootFd, path, path, readingWords);
        if (!target) return fail_with(target.error());
        return std::optional<std::string>(std::move(*target));
    };
    return checkLinkStaysInside(onDisk, linkPath, target);
}

}  // namespace orbitreel::standins
