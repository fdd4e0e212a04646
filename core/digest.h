#pragma once
// Streaming SHA-256 of a file, as 64 lowercase hexadecimal characters. The
// file is read on a second thread while the first hashes, two chunks of
// DigestChunkSize at a time, whatever the file size.

#include <cstddef>
#include <string>

#include "platform/files.h"

namespace orbitreel {

class Hashing;

inline constexpr std::size_t DigestChunkSize = 1048576;

Result<std::string> digest(Files& files, Hashing& hashing, const Path& file);

}  // namespace orbitreel
