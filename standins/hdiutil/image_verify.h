#pragma once
// `hdiutil verify`: the whole image is read and must be intact.

#include <filesystem>

#include "standins/common/failure.h"
#include "standins/hdiutil/extraction_limits.h"

namespace orbitreel::standins {

// Reads every entry through the ISO 9660 reader under the rules attach
// applies (image_entries.h), within `limits`, and checks the seal over every
// byte of the volume: an image that verifies attaches, the disk permitting.
Result<void> verifyImage(const std::filesystem::path& image, const ExtractionLimits& limits = {});

}  // namespace orbitreel::standins
