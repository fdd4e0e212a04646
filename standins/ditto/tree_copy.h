#pragma once
// `ditto SRC DST`: a whole bundle copied, streaming.

#include <filesystem>

#include "standins/common/failure.h"

namespace orbitreel::standins {

// Copies the folder, file or link `source` to `destination`, which must not
// exist (its parent must); or fills `destination`, when it is an empty
// folder of the user's own that the caller made, with what the folder
// `source` holds. Links stay links with their targets unchanged; permission
// bits (never set-id or sticky bits) and access and modification times are
// kept, except that the owner may always write the copy: a copy out of an
// attached image, whose content is read-only, is the user's own to replace
// or delete later. Owners are not copied; hard-linked files become separate
// files. On failure nothing is left at `destination`, or in it when it was
// there before.
Result<void> copyTree(const std::filesystem::path& source, const std::filesystem::path& destination);

}  // namespace orbitreel::standins
