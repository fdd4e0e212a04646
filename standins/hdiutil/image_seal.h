#pragma once
// The seal of a disk image: one 2048-byte block appended after the ISO 9660
// volume, holding the length and piece digest (piece_digest.h) of everything
// before it. ISO readers ignore data after the volume, and the seal lets
// `verify` catch a changed byte anywhere (file contents included), which the
// format alone would not.
//
//   "orbitreel-image-seal 1\nlength <decimal>\npieces <64 hex>\n", then zeros.

#include <cstdint>
#include <filesystem>
#include <string>

#include "base/sha256.h"
#include "standins/common/failure.h"

namespace orbitreel::standins {

inline constexpr std::size_t SealSize = 2048;

struct Seal {
    std::uint64_t length = 0;  // bytes of the volume before the seal
    std::string digest;        // piece digest, lowercase hex
};

// Appends the seal to an unsealed image.
Result<void> sealImage(const std::filesystem::path& image);

// The seal block of the open image of `fileSize` bytes; fails when it is
// missing, malformed or does not describe the bytes before it by length.
Result<Seal> readSeal(int fd, std::uint64_t fileSize);

std::string formatSeal(const Seal& seal);

}  // namespace orbitreel::standins
