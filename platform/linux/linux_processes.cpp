#include "platform/linux/linux_processes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <string_view>

#include "base/interrupted.h"
#include "base/tool_parent.h"
#include "platform/linux/posix_errors.h"

extern char** environ;

namespace orbitreel {

namespace {

PlatformError launchError(const Path& executable, int error) {
    return PlatformError{"posix", error, texts::toolNotStarted(executable.string(), systemCause(error), error)};
}

// Frees the spawn attributes on every way out.
struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// The installer's own environment, plus its process id for the stand-ins:
// a tool that starts after the installer died (between the spawn and the
// tool's first instructions) sees another parent and stops at once, since
// the kernel's parent-death signal cannot reach it for a parent already gone.
std::vector<std::string> toolEnvironment() {
    const std::string assignment = std::string(base::ToolParentVariable) + "=";
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry)
        if (!std::string_view(*entry).starts_with(assignment)) environment.emplace_back(*entry);
    environment.push_back(assignment + std::to_string(getpid()));
    return environment;
}

class LinuxProcesses final : public Processes {
public:
    Result<int> run(const Path& executable, const std::vector<std::string>& arguments) override {
        SpawnSetup setup;
        int error = posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (error == 0) error = posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
        // Only the standard streams: a descriptor some library opened without
        // close-on-exec is none of the tool's business.
        if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
        if (error != 0) return fail_with(launchError(executable, error));

        // The caller may be a worker thread with signals blocked, or the
        // program may ignore SIGPIPE; the tool starts with the defaults.
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&setup.attributes, &none);
        posix_spawnattr_setsigdefault(&setup.attributes, &all);
        posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

        const std::string path = executable.string();
        std::vector<char*> argv;
        argv.reserve(arguments.size() + 2);
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);

        // glibc (since 2.24) reports a failed exec here, not as status 127.
        pid_t child = 0;
        std::vector<std::string> environment = toolEnvironment();
        std::vector<char*> envp;
        envp.reserve(environment.size() + 1);
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        error = posix_spawn(&child, path.c_str(), &setup.actions, &setup.attributes, argv.data(), envp.data());
        if (error != 0) return fail_with(launchError(executable, error));

        int status = 0;
        if (base::retryInterrupted([&] { return waitpid(child, &status, 0); }) < 0) {
            const int waitError = errno;
            return fail_with(
                PlatformError{"posix", waitError, texts::toolNotAwaited(path, systemCause(waitError), waitError)});
        }
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
        return 255;
    }
};

}  // namespace

std::unique_ptr<Processes> makeLinuxProcesses() { return std::make_unique<LinuxProcesses>(); }

}  // namespace orbitreel
