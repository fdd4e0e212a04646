#include "standins/hdiutil/folder_cursor.h"

#include "base/folder_entries.h"
#include "standins/common/tree_rules.h"

namespace orbitreel::standins {

Result<int> FolderCursor::open(const PathComponents& path, std::size_t count) {
    std::size_t same = 0;
    while (same < chain_.size() && same < count && chain_[same].first == path[same]) ++same;
    chain_.erase(chain_.begin() + static_cast<std::ptrdiff_t>(same), chain_.end());
    for (std::size_t i = same; i < count; ++i) {
        auto next = base::openFolder(chain_.empty() ? root_ : chain_.back().second.get(), path[i],
                                     joinPath(path, i + 1), readingWords);
        if (!next) return fail_with(next.error());
        chain_.emplace_back(path[i], std::move(*next));
    }
    return chain_.empty() ? root_ : chain_.back().second.get();
}

}  // namespace orbitreel::standins
