#include "base/folder_walk.h"

#include <cerrno>

namespace orbitreel::base {

namespace {

class Walk {
public:
    Walk(const WalkRules& rules, TreeVisitor& visitor) : rules_(rules), visitor_(visitor) {}

    Result<void> below(int folder, const std::string& shown) {
        auto names = sortedNames(folder, shown, rules_.words);
        if (!names) return fail_with(names.error());
        for (const std::string& name : *names) {
            const std::string inner = joinShown(shown, name);
            if (path_.size() + 1 > rules_.maxDepth) return fail_with(rules_.words(ENAMETOOLONG, inner));
            path_.push_back(name);
            auto walked = item(folder, name, inner);
            path_.pop_back();
            if (!walked) return walked;
        }
        return {};
    }

private:
    Result<void> item(int folder, const std::string& name, const std::string& shown) {
        auto st = statEntry(folder, name, shown, rules_.words);
        if (!st) return fail_with(st.error());
        auto enter = visitor_.visit(WalkItem{folder, name, path_, shown, *st});
        if (!enter) return fail_with(enter.error());
        if (!*enter || !S_ISDIR(st->st_mode)) return {};
        auto opened = openSeenFolder(folder, name, *st, shown, rules_.words);
        if (!opened) return fail_with(opened.error());
        auto walked = below(opened->fd.get(), shown);
        if (!walked) return walked;
        return visitor_.leave(WalkItem{folder, name, path_, shown, opened->status}, opened->fd.get());
    }

    const WalkRules& rules_;
    TreeVisitor& visitor_;
    std::vector<std::string> path_;
};

}  // namespace

Result<void> TreeVisitor::leave(const WalkItem&, int) { return {}; }

Result<void> walkFolder(int top, const std::string& shown, const WalkRules& rules, TreeVisitor& visitor) {
    return Walk(rules, visitor).below(top, shown);
}

Result<OpenedFolder> openSeenFolder(int folder, const std::string& name, const struct stat& seen,
                                    const std::string& shown, Wording words) {
    auto fd = openFolder(folder, name, shown, words);
    if (!fd) return fail_with(fd.error());
    OpenedFolder opened{std::move(*fd), {}};
    if (::fstat(opened.fd.get(), &opened.status) != 0) return fail_with(words(errno, shown));
    if (opened.status.st_dev != seen.st_dev || opened.status.st_ino != seen.st_ino)
        return fail_with(words(ESTALE, shown));
    return opened;
}

}  // namespace orbitreel::base
