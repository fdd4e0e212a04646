#pragma once
// The piece digest of a file or an image: the SHA-256 of the SHA-256s of its
// 1 MiB pieces, in order (no pieces when empty). Signatures record it for
// every file and an image's seal for the volume: pieces are hashed on all
// cores, which one SHA-256 stream cannot be, and memory stays one buffer per
// core whatever the size.

#include <cstdint>
#include <memory>
#include <vector>

#include "base/sha256.h"
#include "helpers/outcome.h"

namespace orbitreel::helpers {

inline constexpr std::size_t PieceSize = 1 << 20;

// Keeps one piece buffer per core, made once for all the files of a walk.
class PieceHasher {
public:
    PieceHasher();

    // Reads `size` bytes of `fd` from offset 0; fails when the file is shorter.
    Outcome<base::Sha256Digest> digest(int fd, std::uint64_t size);

private:
    std::vector<std::unique_ptr<unsigned char[]>> buffers_;
};

}  // namespace orbitreel::helpers
