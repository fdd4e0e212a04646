// The neighbour on a shared machine, as a process of its own run as another
// user: it watches the deepest folder of each planted chain (see
// shared_machine.h) and, each time someone opens one, swaps it with the link
// beside it and back, as fast as it can for a while, so that a walk which
// checks a path and then uses it again meets the link in between. It ends
// when it is killed; it prints one line per swapping burst.
//   neighbour RACED_FOLDER...

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

namespace {

constexpr auto BurstLength = std::chrono::milliseconds(20);

bool exchange(int parent) { return ::syscall(SYS_renameat2, parent, "d", parent, "d-swap", RENAME_EXCHANGE) == 0; }

// Swaps until the burst is over, and leaves the folder at its name.
void burst(int parent) {
    const auto end = std::chrono::steady_clock::now() + BurstLength;
    bool swapped = false;
    while (std::chrono::steady_clock::now() < end) {
        if (!exchange(parent)) break;
        swapped = !swapped;
    }
    if (swapped) (void)exchange(parent);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: neighbour RACED_FOLDER...\n");
        return 2;
    }
    const int events = ::inotify_init1(IN_CLOEXEC);
    if (events < 0) return 1;
    std::map<int, int> parentOf;  // watch → the raced folder's parent
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path raced = argv[i];
        const int watch = ::inotify_add_watch(events, raced.c_str(), IN_OPEN | IN_ONLYDIR);
        const int parent = ::open(raced.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (watch < 0 || parent < 0) {
            std::fprintf(stderr, "neighbour: cannot watch %s\n", argv[i]);
            return 1;
        }
        parentOf[watch] = parent;
    }
    std::printf("watching %d\n", argc - 1);
    std::fflush(stdout);
    alignas(inotify_event) char buffer[64 * 1024];
    int bursts = 0;
    for (;;) {
        const ssize_t got = ::read(events, buffer, sizeof buffer);
        if (got <= 0) continue;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            // The folder itself was opened, not something in it.
            if ((event->mask & IN_OPEN) == 0 || event->len != 0) continue;
            auto parent = parentOf.find(event->wd);
            if (parent == parentOf.end()) continue;
            burst(parent->second);
            std::printf("burst %d\n", ++bursts);
            std::fflush(stdout);
        }
    }
}
