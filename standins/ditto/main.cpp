// The Linux stand-in for the system's copying tool, for whole bundles:
//   ditto SRC DST
// Exit status 0 on success, 1 on failure, 2 for a command line it does not take.

#include <cstdio>
#include <string>
#include <vector>

#include "standins/common/tool_main.h"
#include "standins/ditto/tree_copy.h"

int main(int argc, char** argv) {
    using namespace orbitreel::standins;
    return toolMain("ditto", argc, argv, [](const std::vector<std::string>& args) {
        if (args.size() != 2 || args[0].starts_with('-') || args[1].starts_with('-')) {
            std::fprintf(stderr, "ditto: options are not supported\nusage: ditto SRC DST\n");
            return 2;
        }
        auto copied = copyTree(args[0], args[1]);
        return copied ? 0 : reportFailure("ditto", copied.error().localizedDescription());
    });
}
