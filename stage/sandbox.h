#pragma once
// A private corner of the machine for running the unmodified installer: its
// own network (only loopback, where the release host's name will point), its
// own mounts (a hosts file and a CA bundle laid over the system's, seen by
// nobody else) and its own process numbers (its own /proc, so the installer
// sees only the Orbitreel processes started here, and everything started here
// dies with it).

#include <filesystem>
#include <string>

namespace orbitreel::stage {

struct SandboxOptions {
    // A fresh tmpfs over /tmp: X server locks, sockets and temporary homes
    // stay private and vanish with the sandbox. Off when a display of the
    // host (its socket lies in /tmp) must stay reachable.
    bool privateTmp = true;
    // A root of the sandbox's own that shows the machine's folders plus an
    // empty /Applications (root's, mode 0755) seen by nobody else: the
    // system Applications folder, which the machine need not have, without
    // creating anything on it. Needs privateTmp.
    bool systemApplications = false;
};

struct SandboxEntry {
    bool inside = false;
    std::string refusal;  // why the sandbox could not be made, when not inside
};

// Makes the namespaces and forks. The calling process waits for the sandbox
// and exits with its status, so only the process inside returns (inside =
// true); it is not PID 1 itself, a small init reaps for it and takes every
// process started inside down when it ends. Needs root, or unprivileged user
// namespaces. Call before any thread exists.
SandboxEntry enterSandbox(const SandboxOptions& options);

// `path`, a file of the build, where every user in the sandbox may reach it
// (a build in root's home is closed to the others); `path` itself outside a
// root of the sandbox's own, or when it lies outside the build.
std::filesystem::path seenByEveryone(const std::filesystem::path& path);

// Lays `source` over `target` for this sandbox only.
void bindOver(const std::filesystem::path& source, const std::filesystem::path& target);

}  // namespace orbitreel::stage
