#include "helpers/tree_removal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "helpers/folder_tree.h"

namespace orbitreel::helpers {

Outcome<void> removeContents(int dirFd, const std::string& except) {
    auto names = sortedNames(dirFd);
    if (!names) return failure(names.error());
    for (const std::string& name : *names) {
        if (name == except) continue;
        auto st = statEntry(dirFd, name);
        if (!st) return failure(st.error());
        if (S_ISDIR(st->st_mode)) {
            // Before opening: a folder without read permission cannot be opened.
            if (::fchmodat(dirFd, name.c_str(), S_IRWXU, 0) != 0)
                return failure(posixMessage("cannot unlock " + name, errno));
            auto sub = openFolder(dirFd, name);
            if (!sub) return failure(sub.error());
            auto emptied = removeContents(sub->get());
            if (!emptied) return emptied;
            if (::unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) != 0)
                return failure(posixMessage("cannot remove " + name, errno));
        } else if (::unlinkat(dirFd, name.c_str(), 0) != 0) {
            return failure(posixMessage("cannot remove " + name, errno));
        }
    }
    return {};
}

}  // namespace orbitreel::helpers
