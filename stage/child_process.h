#pragma once
// A program started by the stage: its own process group (so a Ctrl-C at the
// terminal reaches only the stage, which then stops its children in order),
// an environment given whole, output into a file.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace orbitreel::stage {

// The program's path found through $PATH, or empty.
std::filesystem::path findProgram(const std::string& name);

// Another user to run a program as: numbers only, so the user need exist
// nowhere but in the sandbox's files.
struct UserIdentity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;  // besides gid
};

struct ProgramLaunch {
    std::filesystem::path program;
    std::vector<std::string> arguments;    // without the program itself
    std::vector<std::string> environment;  // "NAME=value"; empty: inherit ours
    std::filesystem::path output;          // standard output and error; empty: /dev/null
    std::optional<int> keepDescriptor;     // left open in the child (as the same number)
    std::optional<UserIdentity> user;      // ours otherwise; needs root
};

class ChildProcess {
public:
    ChildProcess() = default;
    // Starts the program; throws when it cannot be started.
    explicit ChildProcess(const ProgramLaunch& launch);
    ~ChildProcess();  // kills (SIGKILL) and reaps a child still running
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }
    // True once the process has ended (and been reaped).
    bool exited();
    // The exit status (128 + signal for a signal), once ended.
    std::optional<int> exitStatus() const { return status_; }
    // Waits up to `timeout`; the status when it ended.
    std::optional<int> waitFor(std::chrono::milliseconds timeout);
    void signal(int number);
    // SIGTERM, then SIGKILL after `grace`; always reaps.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

}  // namespace orbitreel::stage
