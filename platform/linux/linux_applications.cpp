#include "platform/linux/linux_applications.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "base/interrupted.h"
#include "base/unique_fd.h"
#include "platform/linux/info_plist.h"
#include "platform/linux/item_identity.h"
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

PlatformError replacedError(const Path& bundle) {
    return PlatformError{"workspace", 0, texts::folderReplaced(bundle.string())};
}

// Moved above the standard streams, so that dup2 onto them never meets it.
base::UniqueFd aboveStandardStreams(base::UniqueFd fd) {
    if (!fd || fd.get() > STDERR_FILENO) return fd;
    return base::UniqueFd(fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
}

// The executable to start, open; only this descriptor goes to the child.
struct Executable {
    base::UniqueFd fd;
    std::string path;  // the program's own name for itself (argv[0])
    // Run by its interpreter, which reads it through /dev/fd: the descriptor
    // must then survive the exec.
    bool script = false;
};

// The executable of the very folder the install checked, reached through
// descriptors from that folder down and never through a link: whoever may
// rename entries beside the copy cannot put another program in its place.
Result<Executable> openCheckedExecutable(const InstalledApplication& application) {
    const Path& bundle = application.location;
    const base::UniqueFd folder(::open(bundle.c_str(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
    if (!folder) {
        const int code = errno;
        // A link or a file where the copy was.
        if (code == ELOOP || code == ENOTDIR) return fail_with(replacedError(bundle));
        return fail_with(openSystemError(bundle, code));
    }
    auto identity = identityOf(folder.get(), bundle);
    if (!identity) return fail_with(identity.error());
    if (*identity != application.identity) return fail_with(replacedError(bundle));

    const base::UniqueFd contents(::openat(folder.get(), "Contents", O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
    auto info = contents ? readInfoPlistAt(contents.get(), "Info.plist") : std::nullopt;
    if (!info) return fail_with(openError(bundle, texts::NotAnApplication));
    auto name = info->string("CFBundleExecutable");
    if (!name || name->empty() || name->find('/') != std::string::npos) {
        return fail_with(openError(bundle, texts::NoExecutable));
    }

    const base::UniqueFd macos(::openat(contents.get(), "MacOS", O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
    // Without blocking: a pipe in the executable's place must not hold us.
    base::UniqueFd fd;
    if (macos) fd.reset(::openat(macos.get(), name->c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        const int code = errno;
        if (code == ELOOP || code == ENOTDIR) return fail_with(openError(bundle, texts::ExecutableNotAFile));
        return fail_with(openSystemError(bundle, code));
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) return fail_with(openSystemError(bundle, errno));
    if (!S_ISREG(status.st_mode)) return fail_with(openError(bundle, texts::ExecutableNotAFile));
    char start[2] = {};
    const bool script = ::pread(fd.get(), start, sizeof start, 0) == sizeof start && start[0] == '#' && start[1] == '!';
    fd = aboveStandardStreams(std::move(fd));
    if (!fd) return fail_with(openSystemError(bundle, errno));
    return Executable{std::move(fd), (bundle / "Contents/MacOS" / *name).string(), script};
}

// Starts the executable in a session of its own through a short-lived middle
// process, so it outlives us and never lingers as our zombie. The exec
// failure comes back through a close-on-exec pipe: end of file means the
// program is running.
std::optional<Error> startDetached(const Path& bundle, const Executable& executable) {
    // Everything the children need is prepared before fork: after it, only
    // async-signal-safe calls.
    std::vector<char*> argv{const_cast<char*>(executable.path.c_str()), nullptr};
    const base::UniqueFd devNull = aboveStandardStreams(base::UniqueFd(open("/dev/null", O_RDWR | O_CLOEXEC)));
    if (!devNull) return openSystemError(bundle, errno);
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
            if (executable.script) fcntl(executable.fd.get(), F_SETFD, 0);
            if (chdir("/") != 0) {
                // The folder does not matter to the application; start anyway.
            }
            execveat(executable.fd.get(), "", argv.data(), environ, AT_EMPTY_PATH);
            const int error = errno;
            (void)!write(reportWrite.get(), &error, sizeof error);
            _exit(127);
        }
        _exit(program < 0 ? 1 : 0);
    }
    const int forkError = errno;
    // Ours closed, the pipe ends when the program's copy closes at its exec.
    reportWrite.reset();
    if (middle < 0) return openSystemError(bundle, forkError);
    int status = 0;
    base::retryInterrupted([&] { return waitpid(middle, &status, 0); });

    int execError = 0;
    const ssize_t got = base::retryInterrupted([&] { return read(reportRead.get(), &execError, sizeof execError); });
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
    explicit LinuxWorkspace(Queues& queues) : queues_(queues) {}

    // Starting waits until the program has replaced the child, so it runs as
    // a background job; the handler is called from that job.
    void openApplication(const InstalledApplication& application, OpenHandler handler) override {
        InstalledApplication target = application;
        std::error_code error;
        Path location = std::filesystem::absolute(application.location, error);
        if (!error) target.location = std::move(location);
        queues_.onUserInitiated([target = std::move(target), handler = std::move(handler)] {
            auto executable = openCheckedExecutable(target);
            if (!executable) return handler(executable.error());
            handler(startDetached(target.location, *executable));
        });
    }

private:
    Queues& queues_;
};

}  // namespace

std::unique_ptr<RunningApplications> makeLinuxRunningApplications(Bundles& bundles) {
    return std::make_unique<LinuxRunningApplications>(bundles);
}

std::unique_ptr<Workspace> makeLinuxWorkspace(Queues& queues) { return std::make_unique<LinuxWorkspace>(queues); }

}  // namespace orbitreel
