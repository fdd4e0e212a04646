#pragma once
// Emptying a folder whose content may be read-only (attach leaves it so).

#include <string>

#include "helpers/outcome.h"

namespace orbitreel::helpers {

// Deletes everything inside the folder `dirFd` without following links, giving
// each subfolder back its owner's write permission first. The folder itself
// stays; it must be writable. An entry named `except` at the top is kept.
Outcome<void> removeContents(int dirFd, const std::string& except = {});

}  // namespace orbitreel::helpers
