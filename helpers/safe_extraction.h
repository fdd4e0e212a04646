#pragma once
// Extraction of an untrusted image into a folder: nothing is ever written
// outside it, and content that cannot be shown safely fails the extraction.

#include <archive.h>

#include <filesystem>
#include <string>

#include "helpers/extraction_limits.h"
#include "helpers/image_content.h"
#include "helpers/outcome.h"

namespace orbitreel::helpers {

// Writes every entry that `reader` yields into the folder `root`, with
// libarchive's secure flags and checks of our own. Refused, failing the whole
// extraction: absolute paths and "..", a second entry with the same path,
// anything written through a link or a file, links that resolve outside
// `root` (checked on the finished tree), hard links to anything but a file
// extracted before, devices, FIFOs and sockets, the name `reservedName` at
// the top, and content beyond `limits`. Set-id and sticky bits are dropped;
// owners are not restored. On failure the folder may hold part of the
// content: the caller empties it. With `image`, the image `reader` reads from
// memory, file content is copied from the image file where it lies there.
Outcome<void> extractEntries(struct archive* reader, const std::filesystem::path& root, const ExtractionLimits& limits,
                             const std::string& reservedName, const MappedImage* image = nullptr);

}  // namespace orbitreel::helpers
