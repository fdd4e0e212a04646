#pragma once
// The piece digest of a file or an image: the SHA-256 of the SHA-256s of its
// 1 MiB pieces, in order (no pieces when empty). Signatures record it for
// every file and an image's seal for the volume: pieces are hashed on all
// cores, which one SHA-256 stream cannot be, and memory stays one piece per
// core, mapped or read, whatever the size.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "base/sha256.h"
#include "standins/common/failure.h"

namespace orbitreel::standins {

inline constexpr std::size_t PieceSize = 1 << 20;

// `size` bytes of `fd` from offset 0.
struct PieceSource {
    int fd = -1;
    std::uint64_t size = 0;
};

// Why the sources could not be hashed: the first of them, in order, that
// could not be read whole, and the error.
struct PieceFailure {
    std::size_t source = 0;
    int error = 0;
};

// Keeps one piece buffer per core, made once for all the files of a walk.
class PieceHasher {
public:
    PieceHasher();

    // Fails when the file is shorter than `size`.
    Result<base::Sha256Digest> digest(int fd, std::uint64_t size);

    // The digests of several sources, in their order. Their pieces are
    // shared out together, so that files of a piece or two keep every core
    // busy as well as one large file does.
    std::expected<std::vector<base::Sha256Digest>, PieceFailure> digestAll(std::span<const PieceSource> sources);

private:
    std::vector<std::unique_ptr<unsigned char[]>> buffers_;
};

}  // namespace orbitreel::standins
