#include "stage/tool_wrapper.h"

#include <fstream>

namespace orbitreel::stage {

namespace fs = std::filesystem;

namespace {

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

}  // namespace

void wrapTool(const fs::path& bundle, const ToolCall& call, const fs::path& trap, const fs::path& report) {
    const fs::path tool = bundle / "Contents/Helpers" / call.tool;
    fs::rename(tool, fs::path(tool.string() + ".real"));
    // The trap follows this shell ($$) into the real tool; the installer is
    // its parent ($PPID). It is armed before the exec, or the call runs
    // untrapped (and the report says so by its absence).
    std::ofstream script(tool);
    script << "#!/bin/sh\n"
           << "case \"$*\" in\n"
           << call.pattern << ")\n"
           << "    if [ ! -e " << quoted(report) << " ]; then\n"
           << "        eval \"watched=\\${$#}\"\n"
           << "        " << quoted(trap) << " tool $$ $PPID \"$watched\" " << call.nth << " " << quoted(report)
           << " </dev/null >/dev/null 2>&1 &\n"
           << "        tries=0\n"
           << "        until grep -qx armed " << quoted(report) << " 2>/dev/null || [ $tries -ge 500 ]; do\n"
           << "            sleep 0.01\n"
           << "            tries=$((tries + 1))\n"
           << "        done\n"
           << "    fi\n"
           << "    ;;\n"
           << "esac\n"
           << "exec \"$0.real\" \"$@\"\n";
    script.close();
    fs::permissions(tool, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
}

}  // namespace orbitreel::stage
