#include "standins/common/failure.h"

#include <cstring>

namespace orbitreel::standins {

Failure failure(std::string line) { return fail_with(PlatformError{"standin", 0, std::move(line)}); }

Failure failure(const std::string& what, int err) {
    return fail_with(PlatformError{"posix", err, what + ": " + std::strerror(err)});
}

}  // namespace orbitreel::standins
