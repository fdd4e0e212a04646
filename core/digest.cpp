#include "core/digest.h"

#include <vector>

#include "base/hex.h"
#include "platform/hashing.h"

namespace orbitreel {

Result<std::string> digest(Files& files, Hashing& hashing, const Path& file) {
    auto opened = files.openForReading(file);
    if (!opened) return fail_with(opened.error());
    auto& reader = **opened;

    auto sha = hashing.makeSha256();
    std::vector<std::uint8_t> chunk(DigestChunkSize);
    for (;;) {
        auto count = reader.read(chunk);
        if (!count) {
            ignore(reader.close());
            return fail_with(count.error());
        }
        if (*count == 0) break;
        sha->update(std::span(chunk.data(), *count));
    }
    auto bytes = sha->finalize();
    ignore(reader.close());

    return base::toHex(bytes);
}

}  // namespace orbitreel
