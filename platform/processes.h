#pragma once
// Child processes: run a tool to its end with its output discarded.

#include <string>
#include <vector>

#include "platform/files.h"

namespace orbitreel {

class Processes {
public:
    virtual ~Processes() = default;
    // Starts `executable` with `arguments` (each passed as one argument,
    // unchanged), standard output and error to the null device, standard
    // input, environment and working folder inherited; waits without a time
    // limit and returns the exit status (a signal-ended tool counts as
    // non-zero). A tool that cannot be started gives the launch error.
    virtual Result<int> run(const Path& executable, const std::vector<std::string>& arguments) = 0;
};

}  // namespace orbitreel
