#include "standins/common/outcome.h"

#include <cstring>

namespace orbitreel::standins {

std::string posixMessage(const std::string& what, int err) { return what + ": " + std::strerror(err); }

}  // namespace orbitreel::standins
