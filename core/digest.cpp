#include "core/digest.h"

#include "base/hex.h"
#include "core/read_ahead.h"
#include "platform/hashing.h"

namespace orbitreel {

Result<std::string> digest(Files& files, Hashing& hashing, const Path& file) {
    auto opened = files.openForReading(file);
    if (!opened) return fail_with(opened.error());
    auto& reader = **opened;

    auto sha = hashing.makeSha256();
    // Hashing is the slow part: reading ahead on a second thread hides the
    // reads behind it. The thread is joined before the reader is closed.
    Result<void> read;
    {
        ReadAhead chunks(reader, DigestChunkSize);
        for (;;) {
            auto chunk = chunks.next();
            if (!chunk) {
                read = fail_with(chunk.error());
                break;
            }
            if (chunk->empty()) break;
            sha->update(*chunk);
        }
    }
    ignore(reader.close());
    if (!read) return fail_with(read.error());

    return base::toHex(sha->finalize());
}

}  // namespace orbitreel
