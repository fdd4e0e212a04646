#include "helpers/image_verify.h"

#include "base/hex.h"
#include "helpers/attach_marker.h"
#include "helpers/image_entries.h"
#include "helpers/piece_digest.h"
#include "helpers/sealed_image_reader.h"

namespace orbitreel::helpers {

Outcome<void> verifyImage(const std::filesystem::path& image, const ExtractionLimits& limits) {
    auto reader = SealedImageReader::open(image);
    if (!reader) return failure(reader.error());

    // Every entry under attach's rules, without writing anything; the
    // content is only located, the seal covers its bytes, hashed on all cores.
    auto read = readEntries((*reader)->archive(), limits, AttachMarkerName, nullptr);
    if (!read) return read;

    auto digest = PieceHasher().digest((*reader)->fd(), (*reader)->seal().length);
    if (!digest) return failure(digest.error());
    if (base::toHex(*digest) != (*reader)->seal().digest)
        return failure("image damaged: its content does not match its seal");
    return {};
}

}  // namespace orbitreel::helpers
