#include "helpers/image_verify.h"

#include <archive_entry.h>

#include "base/hex.h"
#include "helpers/piece_digest.h"
#include "helpers/sealed_image_reader.h"

namespace orbitreel::helpers {

Outcome<void> verifyImage(const std::filesystem::path& image, const ExtractionLimits& limits) {
    auto reader = SealedImageReader::open(image, 16 * 1024);
    if (!reader) return failure(reader.error());

    // Every header through the ISO 9660 reader; file content is skipped here,
    // the seal covers it, hashed on all cores.
    struct archive* archive = (*reader)->archive();
    std::uint64_t entries = 0;
    std::uint64_t bytes = 0;
    for (;;) {
        archive_entry* entry = nullptr;
        int status = archive_read_next_header(archive, &entry);
        if (status == ARCHIVE_EOF) break;
        if (status != ARCHIVE_OK) return failure(archiveMessage(archive, "image damaged"));
        if (++entries > limits.maxEntries) return failure("image holds too many entries");
        const la_int64_t size = archive_entry_size(entry);
        if (size < 0 || static_cast<std::uint64_t>(size) > limits.maxTotalBytes - bytes)
            return failure("image content too large");
        bytes += static_cast<std::uint64_t>(size);
    }

    auto digest = PieceHasher().digest((*reader)->fd(), (*reader)->seal().length);
    if (!digest) return failure(digest.error());
    if (base::toHex(*digest) != (*reader)->seal().digest)
        return failure("image damaged: its content does not match its seal");
    return {};
}

}  // namespace orbitreel::helpers
