#pragma once
// What every stand-in's main does: it first ties itself to the installer that
// started it (see parent_tie.h), then does its work; a failure is one line
// "TOOL: what went wrong" on standard error.

#include <functional>
#include <string>
#include <vector>

namespace orbitreel::standins {

// Runs `work` with the arguments after the program's name, once the tool is
// tied to its parent; returns the exit status for main.
int toolMain(const char* tool, int argc, char** argv,
             const std::function<int(const std::vector<std::string>& arguments)>& work);

// Prints the failure line; returns 1, a failure's exit status.
int reportFailure(const char* tool, const std::string& message);

}  // namespace orbitreel::standins
