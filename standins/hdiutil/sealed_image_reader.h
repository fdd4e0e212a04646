#pragma once
// A sealed disk image opened for libarchive's ISO 9660 reader, the one way
// both verify and attach read it.

#include <archive.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/unique_fd.h"
#include "standins/common/failure.h"
#include "standins/hdiutil/image_content.h"
#include "standins/hdiutil/image_seal.h"

namespace orbitreel::standins {

class SealedImageReader {
public:
    // Fails when the file is no regular file, its seal is missing or does
    // not match its length (a truncated image), or libarchive does not take
    // it for an ISO 9660 volume. The seal's digest is verify's to check.
    //
    // The image is mapped into memory, and the reader hands out file content
    // as blocks of the mapping, which `mapped()` locates in the file; pages
    // it does not touch are never read into this process. The reader reads
    // forward only: it refuses what lies before what it has read, so that
    // no extent is read twice and no loop of entries comes back.
    static Result<std::unique_ptr<SealedImageReader>> open(const std::filesystem::path& image);
    ~SealedImageReader();
    SealedImageReader(const SealedImageReader&) = delete;
    SealedImageReader& operator=(const SealedImageReader&) = delete;

    // The libarchive reader, positioned before the first entry.
    struct archive* archive() const {
        return archive_;
    }
    int fd() const { return fd_.get(); }
    const Seal& seal() const { return seal_; }
    const MappedImage& mapped() const { return mapped_; }

private:
    SealedImageReader() = default;
    static la_ssize_t readAll(struct archive*, void* self, const void** block);
    static la_int64_t skip(struct archive*, void* self, la_int64_t request);

    base::UniqueFd fd_;
    Seal seal_;
    MappedImage mapped_;
    std::uint64_t handedOut_ = 0;
    struct archive* archive_ = nullptr;
};

// libarchive's own text for its last failure, after `what`.
std::string archiveMessage(struct archive* archive, const std::string& what);

}  // namespace orbitreel::standins
