#pragma once
// `hdiutil attach` and `detach` without a kernel mount: the image's content
// is extracted into the mount point, read-only, and removed again.

#include <filesystem>

#include "standins/common/failure.h"
#include "standins/hdiutil/extraction_limits.h"

namespace orbitreel::standins {

// The mount point must be an empty folder (not a link). On success it holds
// the image's content without write bits, and a marker for detach; on
// failure it is left as it was, empty. The image must carry its seal, but
// only `verify` checks the seal's digest.
Result<void> attachImage(const std::filesystem::path& image, const std::filesystem::path& mountPoint,
                         const ExtractionLimits& limits = {});

// Removes what attach put into the mount point and leaves the folder, empty
// and with its mode from before. Refuses a folder that attach did not fill.
Result<void> detachImage(const std::filesystem::path& mountPoint);

}  // namespace orbitreel::standins
