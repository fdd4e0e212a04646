#pragma once
// The install transaction: from a verified image in the cache to the installed
// application, with backup, rollback and clean-up.

#include "core/error.h"
#include "core/release.h"
#include "platform/files.h"

namespace orbitreel {

struct Platform;

inline constexpr const char* TargetBundleId = "app.orbitreel.Orbitreel";

// Returns the location of the installed application.
Result<Path> install(const Platform& platform, const Release& release);

}  // namespace orbitreel
