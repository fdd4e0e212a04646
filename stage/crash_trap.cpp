#include "stage/crash_trap.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "stage/home_view.h"
#include "stage/tool_processes.h"
#include "stage/waiting.h"

namespace orbitreel::stage {

namespace fs = std::filesystem;

namespace {

using SyscallInfo = __ptrace_syscall_info;
using namespace std::chrono_literals;

void note(const fs::path& report, const std::string& line) {
    std::ofstream out(report, std::ios::app);
    out << line << std::endl;
}

// A string in the traced process, read a page at most at a time since the
// next page may not be mapped.
std::string readString(pid_t tid, std::uint64_t address) {
    std::string text;
    char chunk[256];
    while (text.size() < 4096) {
        const std::size_t want = std::min<std::uint64_t>(sizeof chunk, 4096 - address % 4096);
        iovec local{chunk, want};
        iovec remote{reinterpret_cast<void*>(address), want};
        const ssize_t got = ::process_vm_readv(tid, &local, 1, &remote, 1, 0);
        if (got <= 0) break;
        if (const void* end = std::memchr(chunk, 0, static_cast<std::size_t>(got))) {
            text.append(chunk, static_cast<std::size_t>(static_cast<const char*>(end) - chunk));
            return text;
        }
        text.append(chunk, static_cast<std::size_t>(got));
        address += static_cast<std::uint64_t>(got);
    }
    return text;
}

std::string procLink(pid_t tid, const std::string& name) {
    std::error_code error;
    return fs::read_symlink("/proc/" + std::to_string(tid) + "/" + name, error).string();
}

// The path a successful file call worked on; empty for other calls.
std::string filePath(pid_t tid, const SyscallInfo& entry, std::int64_t result) {
    if (result < 0) return {};
    const auto* args = entry.entry.args;
    auto at = [&](std::int64_t folder, std::uint64_t nameAddress) {
        const std::string name = readString(tid, nameAddress);
        if (name.starts_with('/')) return name;
        return procLink(tid, folder == AT_FDCWD ? "cwd" : "fd/" + std::to_string(folder)) + "/" + name;
    };
    switch (entry.entry.nr) {
#ifdef SYS_open
        case SYS_open:
        case SYS_creat:
#endif
        case SYS_openat:
            return procLink(tid, "fd/" + std::to_string(result));
        case SYS_mkdirat:
        case SYS_unlinkat:
            return at(static_cast<int>(args[0]), args[1]);
#ifdef SYS_mkdir
        case SYS_mkdir:
        case SYS_unlink:
        case SYS_rmdir:
            return at(AT_FDCWD, args[0]);
#endif
        default:
            return {};
    }
}

// "FROM to TO" for a successful rename whose new path ends in `suffix`, or
// an exchange with such a path.
std::optional<std::string> renameInto(pid_t tid, const SyscallInfo& entry, std::int64_t result,
                                      const std::string& suffix) {
    if (result != 0) return std::nullopt;
    const auto* args = entry.entry.args;
    int from = 1, to = 3;
    std::uint64_t flags = 0;
    switch (entry.entry.nr) {
#ifdef SYS_rename
        case SYS_rename:
            from = 0, to = 1;
            break;
#endif
        case SYS_renameat:
            break;
        case SYS_renameat2:
            flags = args[4];
            break;
        default:
            return std::nullopt;
    }
    const std::string source = readString(tid, args[from]);
    const std::string target = readString(tid, args[to]);
    // An exchange is the same whichever way round its paths are given.
    const bool exchange = flags & RENAME_EXCHANGE;
    if (!("/" + target).ends_with(suffix) && !(exchange && ("/" + source).ends_with(suffix))) return std::nullopt;
    std::string text = source + " to " + target;
    if (exchange) text += " (exchange)";
    else if (flags & RENAME_NOREPLACE) text += " (no replace)";
    return text;
}

bool inside(const std::string& path, const std::string& folder) {
    return path == folder || path.starts_with(folder + "/");
}

// Gone or a zombie: either way it has died.
bool processGone(pid_t pid) {
    const std::string stat = readWholeFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] == 'Z' || stat[close + 2] == 'X';
}

// Every thread has ended, and so has told its children that it died: the
// one that started a tool need not be the first thread.
bool allThreadsGone(pid_t pid) {
    if (!processGone(pid)) return false;
    std::error_code error;
    int threads = 0;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error);
         it != fs::directory_iterator(); it.increment(error))
        ++threads;
    return threads <= 1;
}

struct Stop {
    pid_t tid = -1;
    bool syscall = false;
    int event = 0;
    int signal = 0;
};

// The next stop of a traced thread; none once every traced thread is gone.
// Entries are kept so that a syscall's exit can be read with its arguments.
std::optional<Stop> nextStop(std::map<pid_t, SyscallInfo>& entries) {
    for (;;) {
        int status = 0;
        const pid_t tid = ::waitpid(-1, &status, __WALL);
        if (tid < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (!WIFSTOPPED(status)) {
            entries.erase(tid);
            continue;
        }
        return Stop{tid, WSTOPSIG(status) == (SIGTRAP | 0x80), status >> 16, WSTOPSIG(status)};
    }
}

// Resumes a thread; a plain signal stop passes its signal on.
void resume(const Stop& stop, bool syscalls) {
    const int deliver = !stop.syscall && stop.event == 0 ? stop.signal : 0;
    ::ptrace(syscalls ? PTRACE_SYSCALL : PTRACE_CONT, stop.tid, nullptr, deliver);
}

// The syscall a thread just finished, with its entry; none at entries and
// at exits whose entry was not seen (the exit of the exec that began it).
std::optional<std::pair<SyscallInfo, std::int64_t>> finishedSyscall(const Stop& stop,
                                                                    std::map<pid_t, SyscallInfo>& entries) {
    SyscallInfo info{};
    if (::ptrace(PTRACE_GET_SYSCALL_INFO, stop.tid, sizeof info, &info) <= 0) return std::nullopt;
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY) {
        entries[stop.tid] = info;
        return std::nullopt;
    }
    auto entry = entries.find(stop.tid);
    if (info.op != PTRACE_SYSCALL_INFO_EXIT || entry == entries.end()) return std::nullopt;
    return std::pair{entry->second, info.exit.rval};
}

}  // namespace

int trapRename(pid_t installer, const std::string& suffix, const fs::path& report) {
    const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACECLONE;
    std::set<pid_t> seized;
    // Threads may start while they are being seized: look again until no
    // new one turns up (later ones are followed through the clone).
    for (bool more = true; more;) {
        more = false;
        std::error_code error;
        for (auto& task : fs::directory_iterator("/proc/" + std::to_string(installer) + "/task", error)) {
            const pid_t tid = std::stoi(task.path().filename().string());
            if (seized.contains(tid)) continue;
            if (::ptrace(PTRACE_SEIZE, tid, nullptr, options) != 0 ||
                ::ptrace(PTRACE_INTERRUPT, tid, nullptr, nullptr) != 0) {
                if (errno == ESRCH) continue;  // a thread that has just ended
                note(report, "cannot follow thread " + std::to_string(tid) + ": " + std::strerror(errno));
                return 1;
            }
            seized.insert(tid);
            more = true;
        }
        if (error) {
            note(report, "cannot list the installer's threads: " + error.message());
            return 1;
        }
    }
    note(report, TrapArmed);

    std::map<pid_t, SyscallInfo> entries;
    bool sprang = false;
    while (auto stop = nextStop(entries)) {
        if (stop->syscall && !sprang) {
            if (auto call = finishedSyscall(*stop, entries)) {
                if (auto rename = renameInto(stop->tid, call->first, call->second, suffix)) {
                    ::kill(installer, SIGKILL);
                    sprang = true;
                    note(report, std::string(TrapKilled) + " right after renaming " + *rename);
                }
            }
        }
        resume(*stop, !sprang);
    }
    if (!sprang) note(report, "the installer ended before it renamed anything to *" + suffix);
    return sprang ? 0 : 1;
}

int trapTool(pid_t tool, pid_t installer, const fs::path& watched, int nth, const fs::path& report) {
    const std::string folder = fs::weakly_canonical(watched).string();
    const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_TRACECLONE;
    if (::ptrace(PTRACE_SEIZE, tool, nullptr, options) != 0) {
        note(report, "cannot follow the tool: " + std::string(std::strerror(errno)));
        return 1;
    }
    note(report, TrapArmed);

    // Only what the real tool does counts: syscalls are followed from its exec on.
    std::map<pid_t, SyscallInfo> entries;
    bool execed = false;
    int seen = 0;
    while (auto stop = nextStop(entries)) {
        if (stop->event == PTRACE_EVENT_EXEC) execed = true;
        if (stop->syscall) {
            if (auto call = finishedSyscall(*stop, entries)) {
                const std::string path = filePath(stop->tid, call->first, call->second);
                if (!path.empty() && inside(path, folder) && ++seen == nth) {
                    ::kill(installer, SIGKILL);
                    note(report, std::string(TrapKilled) + " as the tool reached " + path);
                    // The tool stays held here, so it cannot end on its own
                    // meanwhile. The bounds end a hang, they time nothing.
                    waitUntil([&] { return allThreadsGone(installer); }, 10s);
                    bool died = processGone(tool) || killPending(tool);
                    if (died)
                        waitUntil(
                            [&] {
                                int status = 0;
                                return ::waitpid(tool, &status, WNOHANG | __WALL) == tool &&
                                       (WIFEXITED(status) || WIFSIGNALED(status));
                            },
                            10s);
                    note(report, died ? ToolDiedWithInstaller : ToolOutlivedInstaller);
                    if (!died) ::ptrace(PTRACE_DETACH, tool, nullptr, 0);
                    return 0;
                }
            }
        }
        resume(*stop, execed);
    }
    note(report, "the tool ended before the trap sprang (" + std::to_string(seen) + " of " + std::to_string(nth) +
                     " files at " + folder + ")");
    return 1;
}

}  // namespace orbitreel::stage
