#include "helpers/sealed_image_reader.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace orbitreel::helpers {

std::string archiveMessage(struct archive* archive, const std::string& what) {
    const char* text = archive_error_string(archive);
    return what + ": " + (text != nullptr ? text : "unknown error");
}

Outcome<std::unique_ptr<SealedImageReader>> SealedImageReader::openSealed(const std::filesystem::path& image) {
    std::unique_ptr<SealedImageReader> reader(new SealedImageReader());
    reader->fd_.reset(::open(image.c_str(), O_RDONLY | O_CLOEXEC));
    if (!reader->fd_) return failure(posixMessage("cannot open " + image.string(), errno));
    struct stat st {};
    if (::fstat(reader->fd_.get(), &st) != 0) return failure(posixMessage("cannot inspect " + image.string(), errno));
    if (!S_ISREG(st.st_mode)) return failure("not a disk image file: " + image.string());
    auto seal = readSeal(reader->fd_.get(), static_cast<std::uint64_t>(st.st_size));
    if (!seal) return failure(seal.error());
    reader->seal_ = *seal;
    reader->mapped_ = {reader->fd_.get(), nullptr, static_cast<std::uint64_t>(st.st_size)};
    ::posix_fadvise(reader->fd_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    reader->archive_ = archive_read_new();
    if (reader->archive_ == nullptr) return failure("out of memory");
    archive_read_support_format_iso9660(reader->archive_);
    return reader;
}

Outcome<std::unique_ptr<SealedImageReader>> SealedImageReader::open(const std::filesystem::path& image,
                                                                    std::size_t blockSize) {
    auto reader = openSealed(image);
    if (!reader) return reader;
    if (archive_read_open_fd((*reader)->archive_, (*reader)->fd_.get(), blockSize) != ARCHIVE_OK)
        return failure(archiveMessage((*reader)->archive_, "not an ISO 9660 image"));
    return reader;
}

Outcome<std::unique_ptr<SealedImageReader>> SealedImageReader::openMapped(const std::filesystem::path& image) {
    auto reader = openSealed(image);
    if (!reader) return reader;
    SealedImageReader& opened = **reader;
    // The length the seal was checked against; the seal makes it more than nothing.
    const auto size = static_cast<std::size_t>(opened.mapped_.size);
    void* bytes = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, opened.fd_.get(), 0);
    if (bytes == MAP_FAILED) return failure(posixMessage("cannot map " + image.string(), errno));
    opened.mapped_.bytes = static_cast<const char*>(bytes);
    if (archive_read_open_memory(opened.archive_, bytes, size) != ARCHIVE_OK)
        return failure(archiveMessage(opened.archive_, "not an ISO 9660 image"));
    return reader;
}

SealedImageReader::~SealedImageReader() {
    if (archive_ != nullptr) archive_read_free(archive_);
    if (mapped_.bytes != nullptr) ::munmap(const_cast<char*>(mapped_.bytes), mapped_.size);
}

}  // namespace orbitreel::helpers
