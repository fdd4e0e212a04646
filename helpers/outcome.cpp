#include "helpers/outcome.h"

#include <cstring>

namespace orbitreel::helpers {

std::string posixMessage(const std::string& what, int err) { return what + ": " + std::strerror(err); }

}  // namespace orbitreel::helpers
