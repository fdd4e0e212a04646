#pragma once

#include <memory>

#include "platform/files.h"

namespace orbitreel {

std::unique_ptr<Files> makeLinuxFiles();

}  // namespace orbitreel
