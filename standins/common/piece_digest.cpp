#include "standins/common/piece_digest.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <vector>

#include "base/interrupted.h"
#include "standins/common/mapped_piece.h"

namespace orbitreel::standins {

namespace {

// Pieces hashed between two joins: bounds the digests held at once.
constexpr std::size_t PiecesPerRound = 256;

unsigned workerCount() { return std::clamp(std::thread::hardware_concurrency(), 1u, 8u); }

struct Piece {
    std::size_t source = 0;
    std::uint64_t offset = 0;
    std::size_t length = 0;
};

// One round's pieces, their digests and read errors, by index.
struct Round {
    std::vector<Piece> pieces;
    std::vector<base::Sha256Digest> digests;
    std::vector<int> errors;
};

int readPiece(int fd, const Piece& piece, unsigned char* buffer) {
    std::size_t done = 0;
    while (done < piece.length) {
        const ssize_t got = base::retryInterrupted(
            [&] { return ::pread(fd, buffer + done, piece.length - done, static_cast<off_t>(piece.offset + done)); });
        if (got <= 0) return got < 0 ? errno : EIO;
        done += static_cast<std::size_t>(got);
    }
    return 0;
}

// Takes pieces from `next` until none is left, so that a worker slowed by
// other work on its core does not hold the others up. A failed read ends the
// round for every worker; the pieces taken before it are still finished, so
// the first failure in order is always found.
void hashPieces(std::span<const PieceSource> sources, Round& round, std::atomic<std::size_t>& next,
                unsigned char* buffer) {
    const std::size_t count = round.pieces.size();
    for (std::size_t i = next++; i < count; i = next++) {
        const Piece& piece = round.pieces[i];
        const int fd = sources[piece.source].fd;
        switch (hashMappedPiece(fd, piece.offset, piece.length, round.digests[i])) {
            case MappedHash::done:
                continue;
            case MappedHash::shorter:
                round.errors[i] = EIO;
                break;
            case MappedHash::unmappable:
                round.errors[i] = readPiece(fd, piece, buffer);
                break;
        }
        if (round.errors[i] != 0) {
            next = count;
            return;
        }
        base::OpenSslSha256 hash;
        hash.update(buffer, piece.length);
        round.digests[i] = hash.finalize();
    }
}

}  // namespace

PieceHasher::PieceHasher() {
    // Not zeroed: every byte hashed is read into it first.
    for (unsigned w = 0; w < workerCount(); ++w)
        buffers_.push_back(std::make_unique_for_overwrite<unsigned char[]>(PieceSize));
}

Result<base::Sha256Digest> PieceHasher::digest(int fd, std::uint64_t size) {
    const PieceSource source{fd, size};
    auto digests = digestAll({&source, 1});
    if (!digests) return failure("cannot read", digests.error().error);
    return digests->front();
}

std::expected<std::vector<base::Sha256Digest>, PieceFailure> PieceHasher::digestAll(
    std::span<const PieceSource> sources) {
    for (const PieceSource& source : sources) ::posix_fadvise(source.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<base::OpenSslSha256> wholes(sources.size());
    Round round;
    round.pieces.reserve(PiecesPerRound);
    std::size_t source = 0;
    std::uint64_t offset = 0;

    for (;;) {
        round.pieces.clear();
        for (; source < sources.size() && round.pieces.size() < PiecesPerRound; offset = 0, ++source) {
            for (; offset < sources[source].size && round.pieces.size() < PiecesPerRound; offset += PieceSize)
                round.pieces.push_back(
                    Piece{source, offset,
                          static_cast<std::size_t>(std::min<std::uint64_t>(PieceSize, sources[source].size - offset))});
            if (offset < sources[source].size) break;
        }
        if (round.pieces.empty()) break;
        round.digests.resize(round.pieces.size());
        round.errors.assign(round.pieces.size(), 0);

        const unsigned active = static_cast<unsigned>(std::min(buffers_.size(), round.pieces.size()));
        std::atomic<std::size_t> next{0};
        std::vector<std::thread> helpers;
        for (unsigned w = 1; w < active; ++w)
            helpers.emplace_back([&, w] { hashPieces(sources, round, next, buffers_[w].get()); });
        hashPieces(sources, round, next, buffers_[0].get());
        for (auto& helper : helpers) helper.join();

        for (std::size_t i = 0; i < round.pieces.size(); ++i) {
            const Piece& piece = round.pieces[i];
            if (round.errors[i] != 0) return std::unexpected(PieceFailure{piece.source, round.errors[i]});
            wholes[piece.source].update(round.digests[i].data(), round.digests[i].size());
        }
    }

    std::vector<base::Sha256Digest> digests;
    digests.reserve(sources.size());
    for (base::OpenSslSha256& whole : wholes) digests.push_back(whole.finalize());
    return digests;
}

}  // namespace orbitreel::standins
