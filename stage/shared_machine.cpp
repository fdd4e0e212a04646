#include "stage/shared_machine.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

#include "base/unique_fd.h"
#include "stage/home_view.h"
#include "stage/sandbox.h"
#include "stage/waiting.h"

namespace orbitreel::stage {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void failed(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

// A folder `name` in `parent`, given to `owner` with `mode`, opened.
base::UniqueFd makeFolder(int parent, const std::string& name, const UserIdentity& owner, mode_t mode) {
    if (::mkdirat(parent, name.c_str(), 0700) != 0) failed("mkdir " + name);
    base::UniqueFd folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder || ::fchown(folder.get(), owner.uid, owner.gid) != 0 || ::fchmod(folder.get(), mode) != 0)
        failed("making " + name);
    return folder;
}

}  // namespace

void shareSystemApplications() {
    // A volume of its own, as on a machine with more than one disk: the
    // previous copy cannot reach the home Trash by a rename from here.
    const std::string options = "mode=0775,uid=0,gid=" + std::to_string(SharedGroup) + ",size=512m";
    if (::mount("tmpfs", "/Applications", "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0)
        failed("mounting /Applications");
}

void writeInfoPlist(const fs::path& bundle, const std::string& identifier, const std::string& executable) {
    fs::create_directories(bundle / "Contents");
    std::ofstream plist(bundle / "Contents/Info.plist");
    plist << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
          << "\t<key>CFBundleIdentifier</key>\n\t<string>" << identifier << "</string>\n";
    if (!executable.empty()) plist << "\t<key>CFBundleExecutable</key>\n\t<string>" << executable << "</string>\n";
    plist << "\t<key>CFBundlePackageType</key>\n\t<string>APPL</string>\n</dict>\n</plist>\n";
}

void plantChain(const fs::path& top, int depth, const UserIdentity& owner, mode_t mode, const fs::path& home) {
    base::UniqueFd parent(::open(top.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!parent) failed("opening " + top.parent_path().string());
    base::UniqueFd level = makeFolder(parent.get(), top.filename().string(), owner, mode);
    for (int i = 0; i < depth; ++i) {
        base::UniqueFd next = makeFolder(level.get(), "d", owner, mode);
        if (i + 1 == depth) {
            if (::symlinkat(home.c_str(), level.get(), "d-swap") != 0 ||
                ::fchownat(level.get(), "d-swap", Neighbour.uid, Neighbour.gid, AT_SYMLINK_NOFOLLOW) != 0)
                failed("the link beside the deepest folder");
            (void)makeFolder(next.get(), ".bashrc", owner, 0077);
        }
        level = std::move(next);
    }
}

fs::path racedFolder(const fs::path& top, int depth) {
    fs::path folder = top;
    for (int i = 0; i < depth; ++i) folder /= "d";
    return folder;
}

std::string hiddenCopyName(const std::string& prefix, const std::string& suffix) {
    static std::mt19937_64 random{std::random_device{}()};
    const char* digits = "0123456789ABCDEF";
    std::string uuid;
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) uuid += '-';
        uuid += digits[random() % 16];
    }
    return prefix + uuid + suffix;
}

ItemIdentity identityOf(const fs::path& item) {
    struct stat st {};
    if (::lstat(item.c_str(), &st) != 0) failed("lstat " + item.string());
    return {st.st_dev, st.st_ino};
}

fs::path whereIs(const ItemIdentity& item, const std::vector<fs::path>& roots) {
    auto is = [&](const fs::path& path) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && st.st_dev == item.device && st.st_ino == item.inode;
    };
    for (const auto& root : roots) {
        if (is(root)) return root;
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(root, error); it != fs::recursive_directory_iterator();
             it.increment(error))
            if (is(it->path())) return it->path();
    }
    return {};
}

std::vector<fs::path> plantRaces(const fs::path& personHome, int neighbourChains, int depth, int personChains,
                                 int personDepth) {
    std::vector<fs::path> raced;
    for (int i = 0; i < neighbourChains + personChains; ++i) {
        const bool theirs = i < neighbourChains;
        const fs::path top = fs::path("/Applications") / hiddenCopyName(".Orbitreel-install-");
        const int levels = theirs ? depth : personDepth;
        plantChain(top, levels, theirs ? Neighbour : Person, theirs ? 0755 : 0775, personHome);
        raced.push_back(racedFolder(top, levels));
    }
    return raced;
}

ChildProcess startNeighbourWith(const fs::path& program, const std::vector<std::string>& arguments,
                                const fs::path& output) {
    ProgramLaunch launch;
    launch.program = seenByEveryone(program);
    launch.arguments = arguments;
    launch.output = output;
    launch.user = Neighbour;
    ChildProcess neighbour(launch);
    // Its watches are in place once it says so.
    if (!waitUntil([&] { return readWholeFile(output).starts_with("watching ") || neighbour.exited(); },
                   std::chrono::seconds(20)) ||
        neighbour.exited())
        throw std::runtime_error("the neighbour did not start watching: " + readWholeFile(output));
    return neighbour;
}

ChildProcess startNeighbour(const fs::path& program, const std::vector<fs::path>& raced, const fs::path& output) {
    std::vector<std::string> arguments;
    for (const auto& folder : raced) arguments.push_back(folder.string());
    return startNeighbourWith(program, arguments, output);
}

int neighbourBursts(const fs::path& output) {
    const std::string text = readWholeFile(output);
    int bursts = 0;
    for (std::size_t at = text.find("burst "); at != std::string::npos; at = text.find("burst ", at + 1)) ++bursts;
    return bursts;
}

std::map<std::string, std::string> itemsWithOwners(const fs::path& folder, const std::vector<std::string>& skip) {
    std::map<std::string, std::string> items;
    auto describe = [](const fs::path& item) {
        struct stat st {};
        if (::lstat(item.c_str(), &st) != 0) return std::string("gone");
        std::string text =
            std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
        if (S_ISLNK(st.st_mode)) text += " -> " + fs::read_symlink(item).string();
        else if (S_ISREG(st.st_mode)) text += " " + readWholeFile(item);
        return text;
    };
    items["."] = describe(folder);
    if (!fs::is_directory(fs::symlink_status(folder))) return items;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), folder).string();
        if (std::find(skip.begin(), skip.end(), relative) != skip.end()) {
            it.disable_recursion_pending();
            continue;
        }
        items[relative] = describe(it->path());
    }
    return items;
}

}  // namespace orbitreel::stage
