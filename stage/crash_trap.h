#pragma once
// Kill points without hooks in the installer: a process of its own follows
// the installer, or one of its tools, through ptrace, and SIGKILLs the
// installer at the system call where the chosen moment lies. The trap writes
// what it did, a line at a time, to a report file: "armed" once it follows,
// then how it sprang.

#include <sys/types.h>

#include <filesystem>
#include <string>

namespace orbitreel::stage {

inline constexpr const char* TrapArmed = "armed";
inline constexpr const char* TrapKilled = "killed the installer";
inline constexpr const char* ToolDiedWithInstaller = "the tool died with the installer";
inline constexpr const char* ToolOutlivedInstaller = "the tool outlived the installer";
inline constexpr const char* TrapCounted = "call ";
inline constexpr const char* TrapRanOut = "the installer got past the last kill point";

// Follows every thread of `installer` and kills it right after a successful
// rename whose new path ends in `suffix`. Returns once the installer is gone.
int trapRename(pid_t installer, const std::string& suffix, const std::filesystem::path& report);

// Follows every thread of `installer`; from its first syncfs on, counts the
// calls that change files (each noted as "call N: ..."), and kills it right
// after the `nth`. The count ends where the installer starts its next
// process (or ends): then the trap notes that it ran out and lets go.
int trapSyscall(pid_t installer, int nth, const std::filesystem::path& report);

// Follows `tool`, a wrapper about to exec the real tool, and at the `nth`
// file the real tool opens, makes or removes at `watched` or below, kills
// `installer` (the tool's parent). The tool is held there until the
// installer is gone, then told whether it died with it, then let go.
int trapTool(pid_t tool, pid_t installer, const std::filesystem::path& watched, int nth,
             const std::filesystem::path& report);

}  // namespace orbitreel::stage
