#pragma once

#include <memory>

#include "platform/environment.h"

namespace orbitreel {

std::unique_ptr<Environment> makeLinuxEnvironment();

}  // namespace orbitreel
