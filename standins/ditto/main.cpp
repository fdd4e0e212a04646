// The Linux stand-in for the system's copying tool, for whole bundles:
//   ditto SRC DST
// Exit status 0 on success, 1 on failure, 2 for a command line it does not take.

#include <cstdio>
#include <string>

#include "standins/common/parent_tie.h"
#include "standins/ditto/tree_copy.h"

int main(int argc, char** argv) {
    if (auto tied = orbitreel::standins::tieToParent(); !tied) {
        std::fprintf(stderr, "ditto: %s\n", tied.error().c_str());
        return 1;
    }
    if (argc != 3 || argv[1][0] == '-' || argv[2][0] == '-') {
        std::fprintf(stderr, "ditto: options are not supported\nusage: ditto SRC DST\n");
        return 2;
    }
    auto copied = orbitreel::standins::copyTree(argv[1], argv[2]);
    if (copied) return 0;
    std::fprintf(stderr, "ditto: %s\n", copied.error().c_str());
    return 1;
}
