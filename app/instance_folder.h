#pragma once
// Where the single-instance lock and socket live: a folder only the user can
// reach, so that no one else can plant, replace or read them.

#include <optional>

#include "platform/files.h"

namespace orbitreel {

// OrbitreelInstaller in `runtimeFolder` ($XDG_RUNTIME_DIR; may be empty) when
// that is the user's own and closed to everyone else; otherwise
// Library/Caches/OrbitreelInstaller-Instance in `home`. Made private, or made
// again when something else holds its name. None when neither can be had.
std::optional<Path> instanceFolder(const Path& runtimeFolder, const Path& home);

}  // namespace orbitreel
