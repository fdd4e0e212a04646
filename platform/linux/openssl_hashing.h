#pragma once

#include <memory>

#include "platform/hashing.h"

namespace orbitreel {

std::unique_ptr<Hashing> makeOpenSslHashing();

}  // namespace orbitreel
