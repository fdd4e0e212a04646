#include "stage/crash_trap.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
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

#include "base/interrupted.h"
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

// A folder's descriptor and a name in it as one path, the way the call saw it.
std::string pathAt(pid_t tid, std::int64_t folder, std::uint64_t nameAddress) {
    const std::string name = readString(tid, nameAddress);
    if (name.starts_with('/')) return name;
    return procLink(tid, folder == AT_FDCWD ? "cwd" : "fd/" + std::to_string(folder)) + "/" + name;
}

std::string descriptorPath(pid_t tid, std::uint64_t fd) {
    return procLink(tid, "fd/" + std::to_string(static_cast<int>(fd)));
}

// The path a successful file call worked on; empty for other calls.
std::string filePath(pid_t tid, const SyscallInfo& entry, std::int64_t result) {
    if (result < 0) return {};
    const auto* args = entry.entry.args;
    switch (entry.entry.nr) {
#ifdef SYS_open
        case SYS_open:
        case SYS_creat:
#endif
        case SYS_openat:
            return descriptorPath(tid, static_cast<std::uint64_t>(result));
        case SYS_mkdirat:
        case SYS_unlinkat:
            return pathAt(tid, static_cast<int>(args[0]), args[1]);
#ifdef SYS_mkdir
        case SYS_mkdir:
        case SYS_unlink:
        case SYS_rmdir:
            return pathAt(tid, AT_FDCWD, args[0]);
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

// A file on a disk, not a socket, a pipe, a device or a file in memory (what
// the windowing libraries write all the time).
bool diskFile(pid_t tid, std::uint64_t fd) {
    struct stat status {};
    const std::string link = "/proc/" + std::to_string(tid) + "/fd/" + std::to_string(static_cast<int>(fd));
    if (::stat(link.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    const std::string path = descriptorPath(tid, fd);
    return !path.starts_with("/memfd:") && !path.starts_with("/dev/");
}

std::string renameFlags(std::uint64_t flags) {
    if (flags & RENAME_EXCHANGE) return " (exchange)";
    if (flags & RENAME_NOREPLACE) return " (no replace)";
    return "";
}

std::string openFlags(std::uint64_t flags) {
    std::string text;
    if ((flags & O_ACCMODE) == O_WRONLY) text += "|O_WRONLY";
    if ((flags & O_ACCMODE) == O_RDWR) text += "|O_RDWR";
    if (flags & O_CREAT) text += "|O_CREAT";
    if (flags & O_EXCL) text += "|O_EXCL";
    if (flags & O_TRUNC) text += "|O_TRUNC";
    if (flags & O_APPEND) text += "|O_APPEND";
    return text.empty() ? "" : " (" + text.substr(1) + ")";
}

bool opensForChange(std::uint64_t flags) { return (flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC)); }

// A successful call that changes files, in words: the call and what it
// worked on. None for other calls and for failed ones, which change nothing.
std::optional<std::string> fileChange(pid_t tid, const SyscallInfo& entry, std::int64_t result) {
    if (result < 0) return std::nullopt;
    const auto* args = entry.entry.args;
    auto at = [&](int folder, int name) { return pathAt(tid, static_cast<int>(args[folder]), args[name]); };
    auto path = [&](int name) { return pathAt(tid, AT_FDCWD, args[name]); };
    auto fd = [&](int index) { return descriptorPath(tid, args[index]); };
    auto written = [&](const char* call) -> std::optional<std::string> {
        if (!diskFile(tid, args[0])) return std::nullopt;
        return std::string(call) + " of " + std::to_string(result) + " bytes to " + fd(0);
    };
    switch (entry.entry.nr) {
        case SYS_syncfs:
            return "syncfs " + fd(0);
        case SYS_fsync:
            return "fsync " + fd(0);
        case SYS_fdatasync:
            return "fdatasync " + fd(0);
        case SYS_renameat2:
            return "renameat2 " + at(0, 1) + " to " + at(2, 3) + renameFlags(args[4]);
        case SYS_renameat:
            return "renameat " + at(0, 1) + " to " + at(2, 3);
        case SYS_mkdirat:
            return "mkdirat " + at(0, 1);
        case SYS_unlinkat:
            return "unlinkat " + at(0, 1) + (args[2] & AT_REMOVEDIR ? " (AT_REMOVEDIR)" : "");
        case SYS_openat:
            if (!opensForChange(args[2])) return std::nullopt;
            return "openat " + descriptorPath(tid, static_cast<std::uint64_t>(result)) + openFlags(args[2]);
        case SYS_fchmod:
            return "fchmod " + fd(0);
        case SYS_fchmodat:
            return "fchmodat " + at(0, 1);
        case SYS_linkat:
            return "linkat " + at(0, 1) + " to " + at(2, 3);
        case SYS_symlinkat:
            return "symlinkat " + at(1, 2) + " to " + readString(tid, args[0]);
        case SYS_ftruncate:
            if (!diskFile(tid, args[0])) return std::nullopt;
            return "ftruncate " + fd(0);
        case SYS_write:
            return written("write");
        case SYS_pwrite64:
            return written("pwrite64");
        case SYS_writev:
            return written("writev");
        case SYS_pwritev:
        case SYS_pwritev2:
            return written("pwritev");
#ifdef SYS_rename
        case SYS_rename:
            return "rename " + path(0) + " to " + path(1);
        case SYS_mkdir:
            return "mkdir " + path(0);
        case SYS_unlink:
            return "unlink " + path(0);
        case SYS_rmdir:
            return "rmdir " + path(0);
        case SYS_open:
            if (!opensForChange(args[1])) return std::nullopt;
            return "open " + descriptorPath(tid, static_cast<std::uint64_t>(result)) + openFlags(args[1]);
        case SYS_creat:
            return "creat " + descriptorPath(tid, static_cast<std::uint64_t>(result));
        case SYS_chmod:
            return "chmod " + path(0);
        case SYS_link:
            return "link " + path(0) + " to " + path(1);
        case SYS_symlink:
            return "symlink " + path(1) + " to " + readString(tid, args[0]);
#endif
        default:
            return std::nullopt;
    }
}

// A successful call that started a process (a tool), not a thread.
bool startedProcess(pid_t tid, const SyscallInfo& entry, std::int64_t result) {
    if (result <= 0) return false;
    switch (entry.entry.nr) {
        case SYS_clone:
            return !(entry.entry.args[0] & CLONE_THREAD);
        case SYS_clone3: {
            // The flags lead the clone_args the call was given.
            std::uint64_t flags = 0;
            iovec local{&flags, sizeof flags};
            iovec remote{reinterpret_cast<void*>(entry.entry.args[0]), sizeof flags};
            if (::process_vm_readv(tid, &local, 1, &remote, 1, 0) != sizeof flags) return false;
            return !(flags & CLONE_THREAD);
        }
#ifdef SYS_fork
        case SYS_fork:
        case SYS_vfork:
            return true;
#endif
        default:
            return false;
    }
}

bool threadOf(pid_t process, pid_t tid) {
    std::error_code error;
    return fs::exists("/proc/" + std::to_string(process) + "/task/" + std::to_string(tid), error);
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
        const pid_t tid = base::retryInterrupted([&] { return ::waitpid(-1, &status, __WALL); });
        if (tid < 0) return std::nullopt;
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

// Seizes every thread of `installer`, each stopped once so that the next
// resume follows its system calls; false (noted) when one cannot be followed.
bool followThreads(pid_t installer, const fs::path& report) {
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
                return false;
            }
            seized.insert(tid);
            more = true;
        }
        if (error) {
            note(report, "cannot list the installer's threads: " + error.message());
            return false;
        }
    }
    return true;
}

}  // namespace

int trapRename(pid_t installer, const std::string& suffix, const fs::path& report) {
    if (!followThreads(installer, report)) return 1;
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

int trapSyscall(pid_t installer, int nth, const fs::path& report) {
    if (!followThreads(installer, report)) return 1;
    note(report, TrapArmed);

    std::map<pid_t, SyscallInfo> entries;
    std::set<pid_t> threads;
    bool counting = false, sprang = false, ranOut = false;
    int seen = 0;
    while (auto stop = nextStop(entries)) {
        threads.insert(stop->tid);
        if (ranOut) {
            // Let go of each thread at its next stop, passing on a signal it was to take.
            const int deliver = !stop->syscall && stop->event == 0 ? stop->signal : 0;
            ::ptrace(PTRACE_DETACH, stop->tid, nullptr, deliver);
            continue;
        }
        if (stop->syscall && !sprang) {
            auto call = finishedSyscall(*stop, entries);
            if (call && threadOf(installer, stop->tid)) {
                const auto& [entry, result] = *call;
                if (entry.entry.nr == SYS_syncfs && result == 0) counting = true;
                if (counting && startedProcess(stop->tid, entry, result)) {
                    note(report, std::string(TrapRanOut) + ": it started its next process after " +
                                     std::to_string(seen) + " calls");
                    ranOut = true;
                    for (pid_t other : threads)
                        if (other != stop->tid) ::ptrace(PTRACE_INTERRUPT, other, nullptr, nullptr);
                    ::ptrace(PTRACE_DETACH, stop->tid, nullptr, 0);
                    continue;
                }
                if (auto change = counting ? fileChange(stop->tid, entry, result) : std::nullopt) {
                    note(report, TrapCounted + std::to_string(++seen) + ": " + *change);
                    if (seen == nth) {
                        ::kill(installer, SIGKILL);
                        sprang = true;
                        note(report, std::string(TrapKilled) + " right after call " + std::to_string(seen));
                    }
                }
            }
        }
        resume(*stop, !sprang);
    }
    if (!sprang && !ranOut)
        note(report, std::string(TrapRanOut) + ": it ended after " + std::to_string(seen) + " calls" +
                         (counting ? "" : ", none of them syncfs"));
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
