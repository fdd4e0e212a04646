#include "platform/linux/linux_applications.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "platform/linux/posix_errors.h"

extern char** environ;

namespace orbitreel {

namespace {

// The bundle whose Contents/MacOS folder holds `executable`: the innermost
// one, so a helper application inside another bundle counts as itself.
std::optional<Path> enclosingBundle(const std::string& executable) {
    static const std::string marker = ".app/Contents/MacOS/";
    const auto at = executable.rfind(marker);
    if (at == std::string::npos) return std::nullopt;
    return Path(executable.substr(0, at + 4));
}

std::optional<std::string> processExecutable(const std::string& pid) {
    const std::string link = "/proc/" + pid + "/exe";
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = readlink(link.c_str(), buffer.data(), buffer.size());
        if (length < 0) return std::nullopt;  // gone, a kernel thread, or not ours to inspect
        if (static_cast<std::size_t>(length) < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

class LinuxRunningApplications final : public RunningApplications {
public:
    explicit LinuxRunningApplications(Bundles& bundles) : bundles_(bundles) {}

    std::size_t countWithBundleIdentifier(const std::string& bundleIdentifier) override {
        DIR* proc = opendir("/proc");
        if (!proc) return 0;
        std::map<Path, bool> matches;  // one Info.plist read per bundle
        std::size_t count = 0;
        while (dirent* entry = readdir(proc)) {
            const std::string name = entry->d_name;
            if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
            auto executable = processExecutable(name);
            if (!executable) continue;
            auto bundle = enclosingBundle(*executable);
            if (!bundle) continue;
            auto known = matches.find(*bundle);
            if (known == matches.end()) {
                auto info = bundles_.bundleAt(*bundle);
                known = matches.emplace(*bundle, info && info->identifier == bundleIdentifier).first;
            }
            if (known->second) ++count;
        }
        closedir(proc);
        return count;
    }

private:
    Bundles& bundles_;
};

PlatformError openError(const Path& bundle, std::string_view reason) {
    return PlatformError{"workspace", 0, texts::appNotOpened(bundle.string(), reason)};
}

PlatformError openSystemError(const Path& bundle, int code) {
    return PlatformError{"workspace", code, texts::appNotOpened(bundle.string(), systemCause(code), code)};
}

// Starts `executable` in a session of its own through a short-lived middle
// process, so it outlives us and never lingers as our zombie. The exec
// failure comes back through a close-on-exec pipe: end of file means the
// program is running.
std::optional<Error> startDetached(const Path& bundle, const std::string& executable) {
    // Everything the children need is prepared before fork: after it, only
    // async-signal-safe calls.
    std::vector<char*> argv{const_cast<char*>(executable.c_str()), nullptr};
    // Above the standard streams, so that dup2 onto them never meets itself.
    base::UniqueFd devNull;
    {
        const base::UniqueFd opened(open("/dev/null", O_RDWR | O_CLOEXEC));
        if (opened) devNull.reset(fcntl(opened.get(), F_DUPFD_CLOEXEC, 3));
        if (!devNull) return openSystemError(bundle, errno);
    }
    // For kernels without close_range's close-on-exec mode (before 5.11).
    const long openMax = sysconf(_SC_OPEN_MAX);
    const int descriptorLimit = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return openSystemError(bundle, errno);
    base::UniqueFd reportRead(ends[0]);
    base::UniqueFd reportWrite(ends[1]);

    const pid_t middle = fork();
    if (middle == 0) {
        setsid();
        const pid_t program = fork();
        if (program == 0) {
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            // Signals we ignore would stay ignored across exec.
            for (int number = 1; number < NSIG; ++number) {
                struct sigaction action {};
                if (sigaction(number, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) signal(number, SIG_DFL);
            }
            dup2(devNull.get(), STDIN_FILENO);
            dup2(devNull.get(), STDOUT_FILENO);
            dup2(devNull.get(), STDERR_FILENO);
            // The application outlives us: it starts with the standard streams
            // only. Marked rather than closed, so the report pipe still works.
            if (close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
                for (int fd = STDERR_FILENO + 1; fd < descriptorLimit; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
            if (chdir("/") != 0) {
                // The folder does not matter to the application; start anyway.
            }
            execve(executable.c_str(), argv.data(), environ);
            const int error = errno;
            (void)!write(reportWrite.get(), &error, sizeof error);
            _exit(127);
        }
        _exit(program < 0 ? 1 : 0);
    }
    const int forkError = errno;
    // Ours closed, the pipe ends when the program's copy closes at its exec.
    reportWrite.reset();
    devNull.reset();
    if (middle < 0) return openSystemError(bundle, forkError);
    int status = 0;
    while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
    }

    int execError = 0;
    ssize_t got = 0;
    do {
        got = read(reportRead.get(), &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof execError)) {
        return openSystemError(bundle, execError);
    }
    // Nothing on the pipe and no grandchild started: the middle process failed to fork.
    if (got == 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
        return openError(bundle, texts::NoProcess);
    }
    return std::nullopt;
}

class LinuxWorkspace final : public Workspace {
public:
    LinuxWorkspace(Bundles& bundles, Queues& queues) : bundles_(bundles), queues_(queues) {}

    // Starting waits until the program has replaced the child, so it runs as
    // a background job; the handler is called from that job.
    void openApplication(const InstalledApplication& application, OpenHandler handler) override {
        const Path& bundle = application.location;
        std::error_code error;
        Path location = std::filesystem::absolute(bundle, error);
        if (error) location = bundle;
        queues_.onUserInitiated([&bundles = bundles_, location = std::move(location), handler = std::move(handler)] {
            handler(open(bundles, location));
        });
    }

private:
    static std::optional<Error> open(Bundles& bundles, const Path& bundle) {
        auto info = bundles.bundleAt(bundle);
        if (!info) return openError(bundle, texts::NotAnApplication);
        auto name = info->string("CFBundleExecutable");
        if (!name || name->empty() || name->find('/') != std::string::npos) {
            return openError(bundle, texts::NoExecutable);
        }
        return startDetached(bundle, (bundle / "Contents/MacOS" / *name).string());
    }

    Bundles& bundles_;
    Queues& queues_;
};

}  // namespace

std::unique_ptr<RunningApplications> makeLinuxRunningApplications(Bundles& bundles) {
    return std::make_unique<LinuxRunningApplications>(bundles);
}

std::unique_ptr<Workspace> makeLinuxWorkspace(Bundles& bundles, Queues& queues) {
    return std::make_unique<LinuxWorkspace>(bundles, queues);
}

}  // namespace orbitreel
