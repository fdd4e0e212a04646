#pragma once
// Extraction of an untrusted image into a folder: nothing is ever written
// outside it, and content that cannot be shown safely fails the extraction.

#include <archive.h>

#include <filesystem>
#include <string>

#include "standins/common/failure.h"
#include "standins/hdiutil/extraction_limits.h"
#include "standins/hdiutil/image_content.h"

namespace orbitreel::standins {

// Writes every entry that `reader` yields into the folder `root`, after the
// checks of readEntries (image_entries.h). Every entry is made below the
// root's descriptor, one folder at a time, and no link is ever followed:
// files are created anew, their modes and times set on their descriptors,
// folders get theirs after their content. Set-id and sticky bits are
// dropped, and with `readOnly` the write bits too; owners are not restored.
// On failure the folder may hold part of the content (all of it writable by
// its owner): the caller empties it. With `image`, the image `reader` reads
// from memory, file content is copied from the image file where it lies there.
Result<void> extractEntries(struct archive* reader, const std::filesystem::path& root, const ExtractionLimits& limits,
                            const std::string& reservedName, const MappedImage* image = nullptr, bool readOnly = false);

}  // namespace orbitreel::standins
