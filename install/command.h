#pragma once
// Runs one system tool to completion; only its exit status counts.

#include <string>
#include <vector>

#include "base/error.h"
#include "platform/files.h"

namespace orbitreel {

struct Platform;

Result<void> command(const Platform& platform, const Path& tool, const std::vector<std::string>& arguments);

}  // namespace orbitreel
