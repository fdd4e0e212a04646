#include "tests/support/recording_processes.h"

namespace orbitreel::test_support {

Result<int> RecordingProcesses::run(const Path& executable, const std::vector<std::string>& arguments) {
    std::vector<std::string> line{executable.filename().string()};
    line.insert(line.end(), arguments.begin(), arguments.end());
    runs.push_back(line);
    auto status = real_.run(executable, arguments);
    if (afterRun) afterRun(line);
    return status;
}

}  // namespace orbitreel::test_support
