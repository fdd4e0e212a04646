#pragma once
// Writes a folder's content into a new sealed disk image (release engineering).

#include <cstdint>
#include <filesystem>
#include <optional>

#include "standins/common/failure.h"

namespace orbitreel::standins {

// The content of `srcFolder` (not the folder itself) becomes the image's
// root: an ISO 9660 volume with Rock Ridge (modes, links and times kept),
// sealed. Files, folders and links only, no deeper than MaxTreeDepth
// (tree_depth.h), and no two folders of one name MovedFolderDepth deep: such
// trees are refused before anything is written. The image is written under
// a temporary name beside `image` and takes its name only when whole and
// sealed; fails when `image` exists, and leaves no image behind.
//
// With a `sourceDate` (seconds since 1970) the image comes out the same from
// the same content whatever the clock and time zone: no time in it is later
// than the source date, those the writer takes from its clock are the source
// date, and all are written in UTC (volume_dates.h). An entry's access time,
// which reading it for the image changes, is taken to be its modification time.
Result<void> createImage(const std::filesystem::path& srcFolder, const std::filesystem::path& image,
                         std::optional<std::int64_t> sourceDate = std::nullopt);

}  // namespace orbitreel::standins
