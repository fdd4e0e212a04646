#include "standins/hdiutil/image_content.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>

#include "base/interrupted.h"
#include "standins/common/stream_chunk.h"

namespace orbitreel::standins {

std::optional<std::uint64_t> MappedImage::offsetOf(const void* block, std::size_t size) const {
    const auto* begin = static_cast<const char*>(block);
    std::less_equal<const char*> notAfter;
    if (bytes == nullptr || !notAfter(bytes, begin) || !notAfter(begin, bytes + this->size)) return std::nullopt;
    const auto offset = static_cast<std::uint64_t>(begin - bytes);
    if (size > this->size - offset) return std::nullopt;
    return offset;
}

ContentWriter::ContentWriter(const MappedImage& image, int to, std::string name)
    : image_(image), to_(to), name_(std::move(name)) {}

Result<void> ContentWriter::write(const void* block, std::size_t size, std::uint64_t fileOffset) {
    if (auto offset = image_.offsetOf(block, size)) return copyExtent(*offset, size, fileOffset);
    return writeBytes(static_cast<const char*>(block), size, fileOffset);
}

Result<void> ContentWriter::copyExtent(std::uint64_t imageOffset, std::size_t size, std::uint64_t fileOffset) {
    auto from = static_cast<off_t>(imageOffset);
    auto to = static_cast<off_t>(fileOffset);
    std::size_t left = size;
    while (kernelCopy_ && left > 0) {
        const ssize_t copied =
            base::retryInterrupted([&] { return ::copy_file_range(image_.fd, &from, to_, &to, left, 0); });
        if (copied > 0) {
            left -= static_cast<std::size_t>(copied);
            continue;
        }
        if (copied == 0) return failure("image ends inside " + name_);
        if (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)
            return failure("cannot write " + name_, errno);
        // The kernel moved `from` and `to` past what it did copy.
        kernelCopy_ = false;
    }
    // Read through a bounded buffer rather than from the mapping, whose pages
    // would stay resident.
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<char[]>(StreamChunkSize);
    while (left > 0) {
        const ssize_t got = base::retryInterrupted(
            [&] { return ::pread(image_.fd, buffer_.get(), std::min(left, StreamChunkSize), from); });
        if (got < 0) return failure("cannot read the image for " + name_, errno);
        if (got == 0) return failure("image ends inside " + name_);
        auto written = writeBytes(buffer_.get(), static_cast<std::size_t>(got), static_cast<std::uint64_t>(to));
        if (!written) return written;
        from += got;
        to += got;
        left -= static_cast<std::size_t>(got);
    }
    return {};
}

Result<void> ContentWriter::writeBytes(const char* bytes, std::size_t size, std::uint64_t fileOffset) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t put = base::retryInterrupted(
            [&] { return ::pwrite(to_, bytes + done, size - done, static_cast<off_t>(fileOffset + done)); });
        if (put < 0) return failure("cannot write " + name_, errno);
        done += static_cast<std::size_t>(put);
    }
    return {};
}

}  // namespace orbitreel::standins
