#include "stage/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "base/interrupted.h"

namespace orbitreel::stage {

namespace {

int statusCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

// The groups first: without root, nothing more can be changed.
bool becomeUser(const UserIdentity& user) {
    return ::setgroups(user.groups.size(), user.groups.data()) == 0 && ::setresgid(user.gid, user.gid, user.gid) == 0 &&
           ::setresuid(user.uid, user.uid, user.uid) == 0;
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void becomeProgram(const ProgramLaunch& launch, char* const* argv, char* const* envp, int reportFd) {
    ::setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGCHLD}) ::signal(signal, SIG_DFL);

    int in = ::open("/dev/null", O_RDONLY);
    int out = launch.output.empty() ? ::open("/dev/null", O_WRONLY)
                                    : ::open(launch.output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0) {
        int error = errno;
        (void)!::write(reportFd, &error, sizeof error);
        ::_exit(127);
    }
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd == reportFd || (launch.keepDescriptor && fd == *launch.keepDescriptor)) continue;
        ::close(fd);
    }
    if (launch.keepDescriptor) ::fcntl(*launch.keepDescriptor, F_SETFD, 0);
    if (launch.user && !becomeUser(*launch.user)) {
        int error = errno;
        (void)!::write(reportFd, &error, sizeof error);
        ::_exit(127);
    }
    if (envp) ::execve(launch.program.c_str(), argv, envp);
    else ::execv(launch.program.c_str(), argv);
    int error = errno;
    (void)!::write(reportFd, &error, sizeof error);
    ::_exit(127);
}

}  // namespace

std::filesystem::path findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        std::filesystem::path candidate = std::filesystem::path(folders.substr(start, end - start)) / name;
        if (!candidate.parent_path().empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

ChildProcess::ChildProcess(const ProgramLaunch& launch) {
    std::vector<std::string> words{launch.program.string()};
    words.insert(words.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = launch.environment;
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) throw std::runtime_error("pipe: " + std::string(std::strerror(errno)));
    pid_t pid = ::fork();
    if (pid < 0) {
        ::close(report[0]);
        ::close(report[1]);
        throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    }
    if (pid == 0) becomeProgram(launch, argv.data(), launch.environment.empty() ? nullptr : envp.data(), report[1]);
    ::close(report[1]);
    int error = 0;
    const ssize_t got = base::retryInterrupted([&] { return ::read(report[0], &error, sizeof error); });
    ::close(report[0]);
    pid_ = pid;
    if (got == sizeof error) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid_ = -1;
        throw std::runtime_error("cannot start " + launch.program.string() + ": " + std::strerror(error));
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(other.pid_), status_(other.status_) {
    other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        this->~ChildProcess();
        pid_ = other.pid_;
        status_ = other.status_;
        other.pid_ = -1;
    }
    return *this;
}

bool ChildProcess::exited() {
    if (status_) return true;
    if (pid_ <= 0) return true;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) status_ = statusCode(status);
    return status_.has_value();
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!exited()) {
        if (std::chrono::steady_clock::now() >= until) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

void ChildProcess::signal(int number) {
    if (pid_ > 0 && !exited()) ::kill(pid_, number);
}

void ChildProcess::stop(std::chrono::milliseconds grace) {
    if (pid_ <= 0 || exited()) return;
    ::kill(pid_, SIGTERM);
    if (waitFor(grace)) return;
    ::kill(pid_, SIGKILL);
    (void)waitFor(std::chrono::milliseconds(10000));
}

}  // namespace orbitreel::stage
