#pragma once
// Hashing a piece of a file where it lies in the page cache: mapping it costs
// a fraction of copying it out with read(), which took as long as the hashing.

#include <cstddef>
#include <cstdint>

#include "base/sha256.h"

namespace orbitreel::standins {

enum class MappedHash { done, unmappable, shorter };

// The SHA-256 of `length` bytes of `fd` at `offset` (a multiple of the page
// size). `shorter` when the file ends before them; `unmappable` when its file
// system cannot map it. A file that shrinks while its piece is hashed raises
// SIGBUS, which ends the tool: the tools that hash write nothing meanwhile,
// and their caller takes a tool ended by a signal for a failed check.
MappedHash hashMappedPiece(int fd, std::uint64_t offset, std::size_t length, base::Sha256Digest& digest);

}  // namespace orbitreel::standins
