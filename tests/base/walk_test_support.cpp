#include "tests/base/walk_test_support.h"

#include <filesystem>

namespace orbitreel::base::test {

Error plainWords(int code, const std::string& shown) { return PlatformError{"posix", code, shown}; }

int codeOf(const Error& error) { return error.platformError() ? error.platformError()->code : 0; }

std::string shownOf(const Error& error) { return error.platformError() ? error.platformError()->description : ""; }

int openDescriptors() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

}  // namespace orbitreel::base::test
