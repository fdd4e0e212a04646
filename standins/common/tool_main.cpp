#include "standins/common/tool_main.h"

#include <cstdio>

#include "standins/common/parent_tie.h"

namespace orbitreel::standins {

int toolMain(const char* tool, int argc, char** argv,
             const std::function<int(const std::vector<std::string>& arguments)>& work) {
    if (auto tied = tieToParent(); !tied) return reportFailure(tool, tied.error().localizedDescription());
    return work(std::vector<std::string>(argv + 1, argv + argc));
}

int reportFailure(const char* tool, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", tool, message.c_str());
    return 1;
}

}  // namespace orbitreel::standins
