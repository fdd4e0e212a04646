#pragma once
// Turns an errno value into the platform error the user sees: short Spanish
// texts for the common causes, the system's own text for the rest.

#include <string>

#include "core/error.h"
#include "platform/files.h"

namespace orbitreel {

PlatformError posixError(int code, const Path& path = {});

}  // namespace orbitreel
