#pragma once
// A decorator of the real tool runner that passes every run on and
// remembers it: the tool's file name first, then its arguments.

#include <functional>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace orbitreel::test_support {

class RecordingProcesses : public Processes {
public:
    explicit RecordingProcesses(Processes& real) : real_(real) {}
    Result<int> run(const Path& executable, const std::vector<std::string>& arguments) override;
    std::vector<std::vector<std::string>> runs;
    // Called with each recorded line once its tool has ended.
    std::function<void(const std::vector<std::string>& line)> afterRun;

private:
    Processes& real_;
};

}  // namespace orbitreel::test_support
