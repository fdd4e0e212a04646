#pragma once
// A test copy of the installer bundle whose system tool is a wrapper: the
// chosen call of the real tool runs under the crash trap (see crash_trap.h),
// which kills the installer in the middle of it; every call ends as the real
// tool, exec'd under the same process, so the installer stays its parent.

#include <filesystem>
#include <string>

namespace orbitreel::stage {

struct ToolCall {
    std::string tool;     // "hdiutil", "codesign" or "ditto"
    std::string pattern;  // a sh `case` pattern for the call's arguments, joined by spaces
    int nth = 1;          // the trap springs at this file the tool opens, makes or removes at its last argument
};

// Renames `bundle`'s Contents/Helpers/<tool> to <tool>.real and puts the
// wrapper in its place. The first matching call is trapped (the trap, the
// program `trap`, reports to `report`); later ones run straight.
void wrapTool(const std::filesystem::path& bundle, const ToolCall& call, const std::filesystem::path& trap,
              const std::filesystem::path& report);

}  // namespace orbitreel::stage
