#pragma once
// Where the single-instance lock and socket live: a folder in the person's
// home that only they can reach, so that no one else can plant, replace or
// read them. One place whatever the environment: a runtime folder comes and
// goes with a login session, and an installer started from a terminal, su or
// cron would take another and run beside the first. The home is the one the
// installer works in, beside the cache that the lock guards, not the one the
// user database names: a sandbox that gives a user a home of its own is a
// machine of its own.

#include <optional>

#include "platform/files.h"

namespace orbitreel {

// Library/Caches/OrbitreelInstaller-Instance in `home`, made private, or
// made again when something else holds its name. None when it cannot be had.
std::optional<Path> instanceFolder(const Path& home);

}  // namespace orbitreel
