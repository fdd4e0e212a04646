#pragma once
// Writing a file's content out of a mapped image: the kernel copies each
// block the reader hands out from the image file into the new file, so the
// bytes never pass through this process.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "standins/common/failure.h"

namespace orbitreel::standins {

// The image as the reader sees it (mapped) and its descriptor, for the kernel.
struct MappedImage {
    int fd = -1;
    const char* bytes = nullptr;
    std::uint64_t size = 0;

    // Where `block` lies in the image, when all of it lies inside the mapping:
    // then its bytes are the image's bytes at that offset. A block the reader
    // produced itself (decompressed, or gathered in a buffer of its own) has none.
    std::optional<std::uint64_t> offsetOf(const void* block, std::size_t size) const;
};

// Writes one file's blocks at their offsets in the file. Where the kernel
// refuses to copy between the two files, the rest of the file goes through a
// bounded buffer, from the offset the kernel reached.
class ContentWriter {
public:
    ContentWriter(const MappedImage& image, int to, std::string name);
    Result<void> write(const void* block, std::size_t size, std::uint64_t fileOffset);

private:
    Result<void> copyExtent(std::uint64_t imageOffset, std::size_t size, std::uint64_t fileOffset);
    Result<void> writeBytes(const char* bytes, std::size_t size, std::uint64_t fileOffset);

    const MappedImage& image_;
    int to_;
    std::string name_;
    bool kernelCopy_ = true;
    std::unique_ptr<char[]> buffer_;
};

}  // namespace orbitreel::standins
