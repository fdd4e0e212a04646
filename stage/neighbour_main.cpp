// The neighbour on a shared machine, as a process of its own run as another
// user. It ends when it is killed and prints what it did, one line each.
//
//   neighbour RACED_FOLDER...
// Watches the deepest folder of each planted chain (see shared_machine.h)
// and, each time someone opens one, swaps it with the link beside it and
// back, as fast as it can for a while, so that a walk which checks a path
// and then uses it again meets the link in between. One line per burst.
//
//   neighbour --swap-staging FOLDER OTHER once|repeatedly
// Watches FOLDER for a staging entry (".Orbitreel-install-…") to appear and
// exchanges it with OTHER (a name in FOLDER): once, or back and forth until
// one of the two names is gone, so that whatever the installer fills or
// checks by name may be someone else's folder.
//
//   neighbour --swap-target FOLDER OTHER
// Watches FOLDER for an application to arrive at Orbitreel.app, or a
// staging entry to go, and at once exchanges Orbitreel.app with OTHER, so
// that whatever is started from that name afterwards is the neighbour's.
//
//   neighbour --swap-after-read FOLDER OTHER
// Watches FOLDER/Orbitreel.app/Contents/Info.plist and, once someone has
// read it, exchanges Orbitreel.app with OTHER: what was checked is then no
// longer at the name.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>

namespace {

constexpr auto BurstLength = std::chrono::milliseconds(20);
constexpr const char* StagingPrefix = ".Orbitreel-install-";

bool exchange(int parent, const char* one, const char* other) {
    return ::syscall(SYS_renameat2, parent, one, parent, other, RENAME_EXCHANGE) == 0;
}

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// Swaps until the burst is over, and leaves the folder at its name.
void burst(int parent) {
    const auto end = std::chrono::steady_clock::now() + BurstLength;
    bool swapped = false;
    while (std::chrono::steady_clock::now() < end) {
        if (!exchange(parent, "d", "d-swap")) break;
        swapped = !swapped;
    }
    if (swapped) (void)exchange(parent, "d", "d-swap");
}

// Calls `seen` for each event on the watches of `events`, for ever.
[[noreturn]] void forEachEvent(int events, const std::function<void(const inotify_event&)>& seen) {
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(events, buffer, sizeof buffer);
        if (got <= 0) continue;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            seen(*event);
        }
    }
}

int raceChains(int events, int count, char** raced) {
    std::map<int, int> parentOf;  // watch → the raced folder's parent
    for (int i = 0; i < count; ++i) {
        const std::filesystem::path folder = raced[i];
        const int watch = ::inotify_add_watch(events, folder.c_str(), IN_OPEN | IN_ONLYDIR);
        const int parent = ::open(folder.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (watch < 0 || parent < 0) {
            std::fprintf(stderr, "neighbour: cannot watch %s\n", raced[i]);
            return 1;
        }
        parentOf[watch] = parent;
    }
    say("watching " + std::to_string(count));
    int bursts = 0;
    forEachEvent(events, [&](const inotify_event& event) {
        // The folder itself was opened, not something in it.
        if ((event.mask & IN_OPEN) == 0 || event.len != 0) return;
        auto parent = parentOf.find(event.wd);
        if (parent == parentOf.end()) return;
        burst(parent->second);
        say("burst " + std::to_string(++bursts));
    });
}

// A watch on `folder` for `mask`, and the folder opened for renames in it.
bool watchFolder(int events, const char* folder, uint32_t mask, int& parent) {
    parent = ::open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0 || ::inotify_add_watch(events, folder, mask | IN_ONLYDIR) < 0) {
        std::fprintf(stderr, "neighbour: cannot watch %s: %s\n", folder, std::strerror(errno));
        return false;
    }
    say("watching 1");
    return true;
}

int swapStaging(int events, const char* folder, const char* other, bool repeatedly) {
    int parent = -1;
    if (!watchFolder(events, folder, IN_CREATE | IN_MOVED_TO, parent)) return 1;
    std::set<std::string> handled;  // our own exchanges make events too
    forEachEvent(events, [&](const inotify_event& event) {
        if (event.len == 0 || (event.mask & IN_ISDIR) == 0) return;
        const std::string name = event.name;
        if (!name.starts_with(StagingPrefix) || !handled.insert(name).second) return;
        if (!repeatedly && handled.size() > 1) return;
        if (!exchange(parent, name.c_str(), other)) return;
        say("swapped " + name + " with " + other);
        if (!repeatedly) return;
        int swaps = 1;
        while (exchange(parent, name.c_str(), other)) {
            ++swaps;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        say("swapped " + std::to_string(swaps) + " times, until " + name + " or " + other + " went");
    });
}

int swapTarget(int events, const char* folder, const char* other) {
    int parent = -1;
    if (!watchFolder(events, folder, IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM, parent)) return 1;
    bool done = false;
    forEachEvent(events, [&](const inotify_event& event) {
        if (done || event.len == 0) return;
        const std::string name = event.name;
        const bool arrived = name == "Orbitreel.app" && (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0;
        const bool stagingGone = name.starts_with(StagingPrefix) && (event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0;
        if (!arrived && !stagingGone) return;
        // Our own exchange makes events too: one swap is all.
        done = true;
        if (exchange(parent, "Orbitreel.app", other)) say("swapped Orbitreel.app with " + std::string(other));
        else say("could not swap Orbitreel.app: " + std::string(std::strerror(errno)));
    });
}

int swapAfterRead(int events, const char* folder, const char* other) {
    const std::string plist = std::string(folder) + "/Orbitreel.app/Contents/Info.plist";
    const int parent = ::open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (parent < 0 || ::inotify_add_watch(events, plist.c_str(), IN_CLOSE_NOWRITE) < 0) {
        std::fprintf(stderr, "neighbour: cannot watch %s: %s\n", plist.c_str(), std::strerror(errno));
        return 1;
    }
    say("watching 1");
    bool done = false;
    forEachEvent(events, [&](const inotify_event&) {
        if (done) return;
        done = true;
        if (exchange(parent, "Orbitreel.app", other)) say("swapped Orbitreel.app with " + std::string(other));
        else say("could not swap Orbitreel.app: " + std::string(std::strerror(errno)));
    });
}

}  // namespace

int main(int argc, char** argv) {
    const int events = ::inotify_init1(IN_CLOEXEC);
    if (events < 0) return 1;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--swap-staging" && argc == 5) {
        const std::string how = argv[4];
        if (how == "once" || how == "repeatedly") return swapStaging(events, argv[2], argv[3], how == "repeatedly");
    } else if (mode == "--swap-target" && argc == 4) {
        return swapTarget(events, argv[2], argv[3]);
    } else if (mode == "--swap-after-read" && argc == 4) {
        return swapAfterRead(events, argv[2], argv[3]);
    } else if (argc > 1 && !mode.starts_with("--")) {
        return raceChains(events, argc - 1, argv + 1);
    }
    std::fprintf(stderr,
                 "usage: neighbour RACED_FOLDER...\n"
                 "       neighbour --swap-staging FOLDER OTHER once|repeatedly\n"
                 "       neighbour --swap-target FOLDER OTHER\n"
                 "       neighbour --swap-after-read FOLDER OTHER\n");
    return 2;
}
