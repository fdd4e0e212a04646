#pragma once
// `hdiutil verify`: the whole image is read and must be intact.

#include <filesystem>

#include "helpers/extraction_limits.h"
#include "helpers/outcome.h"

namespace orbitreel::helpers {

// Reads every entry's header through the ISO 9660 reader, within `limits`,
// and checks the seal over every byte of the volume. Whether the content may
// be shown is attach's question, not this one's.
Outcome<void> verifyImage(const std::filesystem::path& image, const ExtractionLimits& limits = {});

}  // namespace orbitreel::helpers
