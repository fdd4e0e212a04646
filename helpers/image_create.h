#pragma once
// Writes a folder's content into a new sealed disk image (release engineering).

#include <filesystem>

#include "helpers/outcome.h"

namespace orbitreel::helpers {

// The content of `srcFolder` (not the folder itself) becomes the image's
// root: an ISO 9660 volume with Rock Ridge (modes, links and times kept),
// sealed. Files, folders and links only; fails when `image` exists and
// leaves no partial image behind.
Outcome<void> createImage(const std::filesystem::path& srcFolder, const std::filesystem::path& image);

}  // namespace orbitreel::helpers
