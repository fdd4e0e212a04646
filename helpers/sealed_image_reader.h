#pragma once
// A sealed disk image opened for libarchive's ISO 9660 reader.

#include <archive.h>

#include <filesystem>
#include <memory>
#include <string>

#include "base/unique_fd.h"
#include "helpers/image_seal.h"
#include "helpers/outcome.h"

namespace orbitreel::helpers {

class SealedImageReader {
public:
    // Fails when the file is no regular file, its seal is missing or does
    // not match its length (a truncated image), or libarchive does not take
    // it for an ISO 9660 volume. The seal's digest is verify's to check.
    // `blockSize` is what libarchive reads at a time: large to extract,
    // small when file content is skipped (it reads one block per file).
    static Outcome<std::unique_ptr<SealedImageReader>> open(const std::filesystem::path& image, std::size_t blockSize);
    ~SealedImageReader();
    SealedImageReader(const SealedImageReader&) = delete;
    SealedImageReader& operator=(const SealedImageReader&) = delete;

    // The libarchive reader, positioned before the first entry.
    struct archive* archive() const {
        return archive_;
    }
    int fd() const { return fd_.get(); }
    const Seal& seal() const { return seal_; }

private:
    SealedImageReader() = default;

    base::UniqueFd fd_;
    Seal seal_;
    struct archive* archive_ = nullptr;
};

// libarchive's own text for its last failure, after `what`.
std::string archiveMessage(struct archive* archive, const std::string& what);

}  // namespace orbitreel::helpers
