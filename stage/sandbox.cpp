#include "stage/sandbox.h"

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/interrupted.h"

namespace orbitreel::stage {

namespace {

// Where the sandbox's root shows the build to every user (see seenByEveryone).
const std::filesystem::path BuildForEveryone = "/stage-build";
bool buildShownToEveryone = false;

volatile sig_atomic_t forwardTo = 0;

void forwardSignal(int signal) {
    if (forwardTo > 0) ::kill(forwardTo, signal);
}

void forwardStopSignals(pid_t to) {
    forwardTo = to;
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

int exitCodeOf(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return 1;
}

[[noreturn]] void waitAndExit(pid_t child) {
    for (;;) {
        int status = 0;
        const pid_t pid = base::retryInterrupted([&] { return ::wait(&status); });
        if (pid == child) {
            std::fflush(nullptr);
            ::_exit(exitCodeOf(status));
        }
        if (pid < 0) ::_exit(1);
    }
}

std::string errorText(const std::string& what) { return what + ": " + std::strerror(errno); }

bool writeProcFile(const char* path, const std::string& text) {
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return written;
}

// Without root, a user namespace in which we are root does the same, where
// the kernel lets unprivileged users make one.
std::string unshareAsUser() {
    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWPID) != 0)
        return errorText("unshare of user, network, mount and PID namespaces");
    if (!writeProcFile("/proc/self/setgroups", "deny") ||
        !writeProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !writeProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
        return errorText("mapping the user into the new user namespace");
    return {};
}

void bringLoopbackUp() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error(errorText("socket"));
    struct ifreq request {};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    if (!up) throw std::runtime_error(errorText("bringing up the loopback interface"));
}

// A fresh /tmp of our own. The source and build trees stay visible when they
// lie in /tmp themselves (a checkout or a CI clone there): they are bound back
// in from descriptors opened before the tmpfs hides them. Returns them.
std::vector<std::filesystem::path> mountPrivateTmp() {
    std::vector<std::pair<std::filesystem::path, int>> kept;
    for (std::filesystem::path tree : {ORBITREEL_STAGE_SOURCE_DIR, ORBITREEL_STAGE_BINARY_DIR}) {
        bool underTmp = tree.string().starts_with("/tmp/");
        bool covered = false;
        for (const auto& [path, fd] : kept) covered = covered || tree.string().starts_with(path.string() + "/");
        if (!underTmp || covered) continue;
        int fd = ::open(tree.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) throw std::runtime_error(errorText("opening " + tree.string()));
        kept.emplace_back(tree, fd);
    }
    if (::mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") != 0)
        throw std::runtime_error(errorText("mounting a private /tmp"));
    std::vector<std::filesystem::path> trees;
    for (const auto& [tree, fd] : kept) {
        std::filesystem::create_directories(tree);
        std::string source = "/proc/self/fd/" + std::to_string(fd);
        if (::mount(source.c_str(), tree.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
            throw std::runtime_error(errorText("keeping " + tree.string() + " visible"));
        ::close(fd);
        trees.push_back(tree);
    }
    return trees;
}

void bindInto(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        throw std::runtime_error(errorText("laying " + source.string() + " into the sandbox's root"));
}

// A root on the private /tmp's file system that shows every entry of the
// machine's root as it is (folders with everything mounted below them), an
// empty Applications folder, and an empty /tmp in which the trees kept
// visible are bound again. Applications and /tmp lie on one mount, so that
// a rename between them (into the Trash) works as on one volume.
void enterRootWithApplications(const std::vector<std::filesystem::path>& keptTrees) {
    namespace fs = std::filesystem;
    const fs::path root = "/tmp/.sandbox-root";
    fs::create_directory(root);
    fs::permissions(root, fs::perms(0755));
    for (const auto& entry : fs::directory_iterator("/")) {
        const fs::path target = root / entry.path().filename();
        const auto status = entry.symlink_status();
        if (entry.path() == "/tmp" || entry.path() == "/Applications") continue;
        if (fs::is_symlink(status)) {
            fs::create_symlink(fs::read_symlink(entry.path()), target);
            continue;
        }
        if (fs::is_directory(status)) fs::create_directory(target);
        else std::ofstream(target).flush();
        bindInto(entry.path(), target);
    }
    fs::create_directory(root / "tmp");
    fs::permissions(root / "tmp", fs::perms(01777));
    for (const auto& tree : keptTrees) {
        fs::create_directories(root / tree.relative_path());
        bindInto(tree, root / tree.relative_path());
    }
    fs::create_directory(root / "Applications");
    fs::permissions(root / "Applications", fs::perms(0755));
    // Users who exist only in here cannot pass the folders above a build in
    // a home such as /root; the programs they run are shown again at a path
    // every user may walk.
    fs::create_directory(root / BuildForEveryone.relative_path());
    bindInto(ORBITREEL_STAGE_BINARY_DIR, root / BuildForEveryone.relative_path());
    buildShownToEveryone = true;
    if (::chroot(root.c_str()) != 0 || ::chdir("/") != 0)
        throw std::runtime_error(errorText("entering the sandbox's root"));
}

void prepareInside(const SandboxOptions& options) {
    // Nothing mounted here may show outside, nor anything from outside here.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        throw std::runtime_error(errorText("making the mounts private"));
    if (::mount("proc", "/proc", "proc", MS_NOSUID | MS_NODEV | MS_NOEXEC, nullptr) != 0)
        throw std::runtime_error(errorText("mounting /proc"));
    std::vector<std::filesystem::path> keptTrees;
    if (options.privateTmp) keptTrees = mountPrivateTmp();
    if (options.systemApplications) {
        if (!options.privateTmp) throw std::runtime_error("a root of its own needs the private /tmp");
        enterRootWithApplications(keptTrees);
    }
    bringLoopbackUp();
}

}  // namespace

SandboxEntry enterSandbox(const SandboxOptions& options) {
    std::string refusal;
    if (::geteuid() == 0) {
        if (::unshare(CLONE_NEWNS | CLONE_NEWNET | CLONE_NEWPID) != 0)
            refusal = errorText("unshare of network, mount and PID namespaces");
    } else {
        refusal = unshareAsUser();
    }
    if (!refusal.empty()) return {false, refusal};

    std::fflush(nullptr);
    pid_t init = ::fork();
    if (init < 0) return {false, errorText("fork")};
    if (init > 0) {
        // Outside: wait for the sandbox, passing stop requests on.
        forwardStopSignals(init);
        waitAndExit(init);
    }

    // PID 1 of the new namespace. When it ends, every process inside ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    try {
        prepareInside(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sandbox: %s\n", error.what());
        ::_exit(1);
    }
    pid_t driver = ::fork();
    if (driver < 0) ::_exit(1);
    if (driver == 0) return {true, {}};
    // Orphans of the sandbox are reparented here; reaping them keeps no
    // zombie that would look like a running program.
    forwardStopSignals(driver);
    waitAndExit(driver);
}

std::filesystem::path seenByEveryone(const std::filesystem::path& path) {
    const std::filesystem::path build = ORBITREEL_STAGE_BINARY_DIR;
    if (!buildShownToEveryone) return path;
    const auto relative = path.lexically_relative(build);
    if (relative.empty() || *relative.begin() == "..") return path;
    return relative == "." ? BuildForEveryone : BuildForEveryone / relative;
}

void bindOver(const std::filesystem::path& source, const std::filesystem::path& target) {
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        throw std::runtime_error(errorText(("laying " + source.string() + " over " + target.string()).c_str()));
}

}  // namespace orbitreel::stage
