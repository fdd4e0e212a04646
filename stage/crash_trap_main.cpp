// The crash trap as a process of its own (a tracer cannot be the thread that
// also waits for the installer as its parent):
//   crash_trap rename INSTALLER_PID SUFFIX REPORT
//   crash_trap syscall INSTALLER_PID NTH REPORT
//   crash_trap tool TOOL_PID INSTALLER_PID WATCHED NTH REPORT

#include <cstdio>
#include <string>

#include "stage/crash_trap.h"

int main(int argc, char** argv) {
    using namespace orbitreel::stage;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "rename" && argc == 5) return trapRename(std::stoi(argv[2]), argv[3], argv[4]);
    if (mode == "syscall" && argc == 5) return trapSyscall(std::stoi(argv[2]), std::stoi(argv[3]), argv[4]);
    if (mode == "tool" && argc == 7)
        return trapTool(std::stoi(argv[2]), std::stoi(argv[3]), argv[4], std::stoi(argv[5]), argv[6]);
    std::fprintf(stderr,
                 "usage: crash_trap rename INSTALLER_PID SUFFIX REPORT\n"
                 "       crash_trap syscall INSTALLER_PID NTH REPORT\n"
                 "       crash_trap tool TOOL_PID INSTALLER_PID WATCHED NTH REPORT\n");
    return 2;
}
