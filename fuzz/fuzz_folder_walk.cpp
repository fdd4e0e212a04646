// Builds a small tree from arbitrary bytes in a scratch folder, with links
// into it and out of it to a sentinel folder beside it, then walks it and
// removes it with the descriptor walk. The first byte is the walk's bound;
// each later byte one step (its low three bits the kind, the rest its
// argument):
//   0 a folder, entered    1 a file          2 back up one folder
//   3 a link inside        4 a link outside  5 a mode for this folder
//   6 this folder given to another user (when run as root)
//   7 a file of a name that sorts oddly
// Beyond not crashing: the walk meets every item once, in order, never past
// the bound and never through a link; the removal takes everything unless
// another user's folder or the bound stops it, and then leaves that folder
// and everything past the bound alone; the sentinel never changes; no
// descriptor stays open.

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/folder_walk.h"
#include "base/tree_removal.h"
#include "base/unique_fd.h"
#include "invariant.h"

namespace {

namespace fs = std::filesystem;
using namespace orbitreel;
using orbitreel::fuzz::require;

constexpr std::size_t MaxItems = 48;
constexpr std::size_t MaxBuildDepth = 14;
constexpr uid_t Nobody = 65534;

Error plainWords(int code, const std::string& shown) { return PlatformError{"posix", code, shown}; }

const fs::path& scratch() {
    static const fs::path folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/fuzz-folder-walk-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        const fs::path made(pattern);
        fs::create_directories(made / "sentinel" / "inner");
        std::ofstream(made / "sentinel" / "secret") << "kept";
        std::ofstream(made / "sentinel" / "inner" / "secret") << "kept";
        fs::permissions(made / "sentinel" / "inner", static_cast<fs::perms>(0500));
        // Gone at the end of the run; kept in a plain array, which outlives
        // every object with a destructor.
        static char removedAtExit[4096];
        pattern.copy(removedAtExit, sizeof removedAtExit - 1);
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(removedAtExit, ignored);
        });
        return made;
    }();
    return folder;
}

// Everything the sentinel holds, modes and contents included.
std::string snapshot(const fs::path& folder) {
    std::ostringstream out;
    std::vector<fs::path> items;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) items.push_back(entry.path());
    items.push_back(folder);
    std::sort(items.begin(), items.end());
    for (const fs::path& item : items) {
        struct stat st {};
        if (::lstat(item.c_str(), &st) != 0) std::abort();
        out << item.string() << ' ' << st.st_mode << ' ' << st.st_uid << ' ' << st.st_ino;
        if (S_ISREG(st.st_mode)) out << ' ' << std::ifstream(item).rdbuf();
        out << '\n';
    }
    return out.str();
}

int openDescriptors() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

// The tree as built: each item's path below the top and whether it is a
// folder; the folders given away; the items past the bound.
struct Built {
    std::map<std::vector<std::string>, bool> items;
    std::vector<fs::path> foreign;
    std::vector<fs::path> pastBound;
    std::size_t deepest = 0;
};

Built build(const fs::path& top, const std::uint8_t* data, std::size_t size, std::size_t bound) {
    Built built;
    fs::create_directory(top);
    std::vector<std::string> current;
    int counter = 0;
    const std::vector<std::string> oddNames = {"\xC3\xA9", "B", "a.b", " ", "\x7f", "~"};
    for (std::size_t i = 0; i < size && built.items.size() < MaxItems; ++i) {
        const unsigned kind = data[i] & 7, argument = data[i] >> 3;
        fs::path here = top;
        for (const std::string& name : current) here /= name;
        std::vector<std::string> path = current;
        path.push_back(kind == 7 ? oddNames[argument % oddNames.size()] : "n" + std::to_string(counter++));
        const fs::path item = here / path.back();
        std::error_code failed;
        bool folder = false;
        switch (kind) {
            case 0:
                if (current.size() >= MaxBuildDepth) continue;
                fs::create_directory(item, failed);
                folder = true;
                break;
            case 1:
            case 7:
                if (fs::exists(fs::symlink_status(item))) continue;
                std::ofstream(item) << argument;
                break;
            case 2:
                if (!current.empty()) current.pop_back();
                continue;
            case 3: {
                const std::string inside[] = {".", "..", "n0", "n1/n2", ""};
                const std::string& target = inside[argument % 5];
                fs::create_symlink(target.empty() ? here.string() : target, item, failed);
                break;
            }
            case 4: {
                std::string target;
                for (std::size_t up = 0; up <= current.size(); ++up) target += "../";
                target += argument % 2 ? "sentinel" : "sentinel/inner";
                fs::create_symlink(argument % 4 < 2 ? target : (scratch() / "sentinel").string(), item, failed);
                break;
            }
            case 5: {
                // Only root still builds inside a folder it closed.
                if (::geteuid() != 0) continue;
                const fs::perms modes[] = {fs::perms::none, static_cast<fs::perms>(0500), static_cast<fs::perms>(0555),
                                           static_cast<fs::perms>(0777)};
                fs::permissions(here, modes[argument % 4], failed);
                continue;
            }
            case 6:
                if (::geteuid() != 0 || current.empty()) continue;
                if (::chown(here.c_str(), Nobody, Nobody) != 0) std::abort();
                built.foreign.push_back(here);
                continue;
        }
        if (failed) std::abort();
        built.items[path] = folder;
        built.deepest = std::max(built.deepest, path.size());
        if (path.size() > bound) built.pastBound.push_back(item);
        if (folder) current = path;
    }
    return built;
}

// Checks each item the walk meets against the tree as built.
class Checker : public base::TreeVisitor {
public:
    Checker(const Built& built, std::size_t bound) : built_(built), bound_(bound) {}
    std::size_t met = 0;

    Result<bool> visit(const base::WalkItem& item) override {
        require(item.path.size() <= bound_, "an item past the bound was visited");
        require(previous_.empty() || previous_ < item.path, "items out of bytewise order");
        const auto found = built_.items.find(item.path);
        require(found != built_.items.end(), "an item the tree does not hold, reached through a link");
        require(found->second == S_ISDIR(item.status.st_mode), "a folder and a file confused");
        previous_ = item.path;
        ++met;
        return true;
    }

private:
    const Built& built_;
    std::size_t bound_;
    std::vector<std::string> previous_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t bound = 1 + data[0] % 12;
    const fs::path top = scratch() / "tree";
    const std::string sentinel = snapshot(scratch() / "sentinel");
    const Built built = build(top, data + 1, size - 1, bound);
    std::map<fs::path, std::string> foreignBefore;
    for (const fs::path& folder : built.foreign) foreignBefore[folder] = snapshot(folder);
    const base::WalkRules rules{bound, plainWords};
    const int descriptors = openDescriptors();

    {
        base::UniqueFd topFd(::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        require(static_cast<bool>(topFd), "the top cannot be opened");
        Checker checker(built, bound);
        auto walked = base::walkFolder(topFd.get(), "tree", rules, checker);
        if (built.deepest <= bound) {
            require(walked.has_value(), "a walk within the bound failed");
            require(checker.met == built.items.size(), "the walk missed items");
        } else {
            require(!walked && walked.error().platformError()->code == ENAMETOOLONG, "the bound did not stop the walk");
        }
    }

    base::UniqueFd scratchFd(::open(scratch().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    auto removed = base::removeTree(scratchFd.get(), "tree", "tree", rules);
    scratchFd.reset();
    require(openDescriptors() == descriptors, "a descriptor stayed open");
    require(snapshot(scratch() / "sentinel") == sentinel, "the sentinel changed");
    if (built.foreign.empty() && built.deepest <= bound) {
        require(removed.has_value(), "a removal that nothing stops failed");
        require(!fs::exists(fs::symlink_status(top)), "the removal left the top");
    } else {
        require(!removed, "a removal went past another user's folder or the bound");
        const int code = removed.error().platformError()->code;
        require(code == EPERM || code == ENAMETOOLONG, "the removal stopped for another reason");
        for (const auto& [folder, before] : foreignBefore)
            require(fs::is_directory(fs::symlink_status(folder)) && snapshot(folder) == before,
                    "another user's folder was changed");
        for (const fs::path& item : built.pastBound)
            require(fs::exists(fs::symlink_status(item)), "an item past the bound went");
    }

    // Whatever is left goes, links removed and never followed.
    std::error_code ignored;
    fs::remove_all(top, ignored);
    return 0;
}
