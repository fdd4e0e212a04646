#pragma once
// Writes a folder's content into a new sealed disk image (release engineering).

#include <filesystem>

#include "standins/common/outcome.h"

namespace orbitreel::standins {

// The content of `srcFolder` (not the folder itself) becomes the image's
// root: an ISO 9660 volume with Rock Ridge (modes, links and times kept),
// sealed. Files, folders and links only, no deeper than MaxTreeDepth
// (tree_depth.h), and no two folders of one name MovedFolderDepth deep: such
// trees are refused before anything is written. The image is written under
// a temporary name beside `image` and takes its name only when whole and
// sealed; fails when `image` exists, and leaves no image behind.
Outcome<void> createImage(const std::filesystem::path& srcFolder, const std::filesystem::path& image);

}  // namespace orbitreel::standins
