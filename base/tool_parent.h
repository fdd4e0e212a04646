#pragma once
// The variable by which the installer's tool runner names itself to the
// tools it starts, so that a stand-in can tell the installer from whoever
// adopted it after the installer died (standins/common/parent_tie.h).

namespace orbitreel::base {

inline constexpr const char* ToolParentVariable = "ORBITREEL_TOOL_PARENT";

}  // namespace orbitreel::base
