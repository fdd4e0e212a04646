#include "tests/support/home_environment.h"

#include "platform/linux/linux_environment.h"

namespace orbitreel::test_support {

HomeEnvironment::HomeEnvironment(Path home, Path temporary)
    : home_(std::move(home)), temporary_(std::move(temporary)), real_(makeLinuxEnvironment()) {}

}  // namespace orbitreel::test_support
