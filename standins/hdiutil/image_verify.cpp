#include "standins/hdiutil/image_verify.h"

#include "base/hex.h"
#include "standins/common/piece_digest.h"
#include "standins/hdiutil/attach_marker.h"
#include "standins/hdiutil/image_entries.h"
#include "standins/hdiutil/sealed_image_reader.h"

namespace orbitreel::standins {

Result<void> verifyImage(const std::filesystem::path& image, const ExtractionLimits& limits) {
    auto reader = SealedImageReader::open(image);
    if (!reader) return fail_with(reader.error());

    // Every entry under attach's rules, without writing anything; the
    // content is only located, the seal covers its bytes, hashed on all cores.
    auto read = readEntries((*reader)->archive(), limits, AttachMarkerName, nullptr);
    if (!read) return read;

    auto digest = PieceHasher().digest((*reader)->fd(), (*reader)->seal().length);
    if (!digest) return fail_with(digest.error());
    if (base::toHex(*digest) != (*reader)->seal().digest)
        return failure("image damaged: its content does not match its seal");
    return {};
}

}  // namespace orbitreel::standins
