#include "standins/hdiutil/sealed_image_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orbitreel::standins {

std::string archiveMessage(struct archive* archive, const std::string& what) {
    const char* text = archive_error_string(archive);
    return what + ": " + (text != nullptr ? text : "unknown error");
}

Result<std::unique_ptr<SealedImageReader>> SealedImageReader::open(const std::filesystem::path& image) {
    std::unique_ptr<SealedImageReader> reader(new SealedImageReader());
    reader->fd_.reset(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
    if (!reader->fd_) return failure("cannot open " + image.string(), errno);
    struct stat st {};
    if (::fstat(reader->fd_.get(), &st) != 0) return failure("cannot inspect " + image.string(), errno);
    if (!S_ISREG(st.st_mode)) return failure("not a disk image file: " + image.string());
    auto seal = readSeal(reader->fd_.get(), static_cast<std::uint64_t>(st.st_size));
    if (!seal) return fail_with(seal.error());
    reader->seal_ = *seal;
    ::posix_fadvise(reader->fd_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    // The length the seal was checked against; the seal makes it more than nothing.
    const auto size = static_cast<std::size_t>(st.st_size);
    void* bytes = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, reader->fd_.get(), 0);
    if (bytes == MAP_FAILED) return failure("cannot map " + image.string(), errno);
    reader->mapped_ = {reader->fd_.get(), static_cast<const char*>(bytes), size};

    reader->archive_ = archive_read_new();
    if (reader->archive_ == nullptr) return failure("out of memory");
    archive_read_support_format_iso9660(reader->archive_);
    // No seek callback: the reader cannot go back.
    if (archive_read_open2(reader->archive_, reader.get(), nullptr, readAll, skip, nullptr) != ARCHIVE_OK)
        return failure(archiveMessage(reader->archive_, "not an ISO 9660 image"));
    return reader;
}

// The whole mapping as one block, so that every block the reader hands out
// lies in it.
la_ssize_t SealedImageReader::readAll(struct archive*, void* self, const void** block) {
    auto* reader = static_cast<SealedImageReader*>(self);
    *block = reader->mapped_.bytes + reader->handedOut_;
    const auto left = reader->mapped_.size - reader->handedOut_;
    reader->handedOut_ = reader->mapped_.size;
    return static_cast<la_ssize_t>(left);
}

la_int64_t SealedImageReader::skip(struct archive*, void* self, la_int64_t request) {
    auto* reader = static_cast<SealedImageReader*>(self);
    const auto step = std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max<la_int64_t>(request, 0)),
                                              reader->mapped_.size - reader->handedOut_);
    reader->handedOut_ += step;
    return static_cast<la_int64_t>(step);
}

SealedImageReader::~SealedImageReader() {
    if (archive_ != nullptr) archive_read_free(archive_);
    if (mapped_.bytes != nullptr) ::munmap(const_cast<char*>(mapped_.bytes), mapped_.size);
}

}  // namespace orbitreel::standins
