#include "helpers/piece_digest.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

namespace orbitreel::helpers {

namespace {

// Pieces hashed between two joins: bounds the digests held at once.
constexpr std::uint64_t PiecesPerRound = 256;

unsigned workerCount() { return std::clamp(std::thread::hardware_concurrency(), 1u, 8u); }

// Takes pieces of one round from `next` until none is left, so that a worker
// slowed by other work on its core does not hold the others up.
int hashPieces(int fd, std::uint64_t size, std::uint64_t roundStart, std::uint64_t roundPieces,
               std::atomic<std::uint64_t>& next, unsigned char* buffer, std::vector<base::Sha256Digest>& digests) {
    for (std::uint64_t i = next++; i < roundPieces; i = next++) {
        const std::uint64_t offset = (roundStart + i) * PieceSize;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(PieceSize, size - offset));
        std::size_t done = 0;
        while (done < want) {
            ssize_t got = ::pread(fd, buffer + done, want - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return got < 0 ? errno : EIO;
            done += static_cast<std::size_t>(got);
        }
        base::Sha256 piece;
        piece.update(buffer, want);
        digests[i] = piece.finish();
    }
    return 0;
}

}  // namespace

PieceHasher::PieceHasher() {
    // Not zeroed: every byte hashed is read into it first.
    for (unsigned w = 0; w < workerCount(); ++w)
        buffers_.push_back(std::make_unique_for_overwrite<unsigned char[]>(PieceSize));
}

Outcome<base::Sha256Digest> PieceHasher::digest(int fd, std::uint64_t size) {
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    const std::uint64_t pieces = (size + PieceSize - 1) / PieceSize;
    const unsigned workers = static_cast<unsigned>(buffers_.size());
    std::vector<base::Sha256Digest> digests(std::min(pieces, PiecesPerRound));
    base::Sha256 whole;

    for (std::uint64_t start = 0; start < pieces; start += PiecesPerRound) {
        const std::uint64_t count = std::min(PiecesPerRound, pieces - start);
        const unsigned active = static_cast<unsigned>(std::min<std::uint64_t>(workers, count));
        std::atomic<std::uint64_t> next{0};
        std::vector<int> errors(active, 0);
        std::vector<std::thread> helpers;
        for (unsigned w = 1; w < active; ++w)
            helpers.emplace_back(
                [&, w] { errors[w] = hashPieces(fd, size, start, count, next, buffers_[w].get(), digests); });
        errors[0] = hashPieces(fd, size, start, count, next, buffers_[0].get(), digests);
        for (auto& helper : helpers) helper.join();
        for (int error : errors)
            if (error != 0) return failure(posixMessage("cannot read", error));
        for (std::uint64_t i = 0; i < count; ++i) whole.update(digests[i].data(), digests[i].size());
    }
    return whole.finish();
}

}  // namespace orbitreel::helpers
