#include "core/read_ahead.h"

namespace orbitreel {

ReadAhead::ReadAhead(FileReader& reader, std::size_t chunkSize) : reader_(reader) {
    for (auto& chunk : chunks_) chunk.bytes.resize(chunkSize);
    thread_ = std::thread([this] { readAll(); });
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

// Fills the chunks in turn, each once the consumer has given it back, and
// ends after the last one (the end of the file or an error).
void ReadAhead::readAll() {
    for (std::size_t i = 0;; i ^= 1) {
        Chunk& chunk = chunks_[i];
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !chunk.filled; });
            if (stopping_) return;
        }
        // The chunk is this thread's alone until it is marked filled.
        auto count = reader_.read(chunk.bytes);
        const bool last = !count || *count == 0;
        {
            std::lock_guard lock(mutex_);
            chunk.count = std::move(count);
            chunk.filled = true;
        }
        changed_.notify_all();
        if (last) return;
    }
}

Result<std::span<const std::uint8_t>> ReadAhead::next() {
    std::unique_lock lock(mutex_);
    if (holding_ && !isLast(chunks_[current_])) {
        chunks_[current_].filled = false;
        current_ ^= 1;
        changed_.notify_all();
    }
    Chunk& chunk = chunks_[current_];
    changed_.wait(lock, [&] { return chunk.filled; });
    holding_ = true;
    if (!chunk.count) return fail_with(chunk.count.error());
    return std::span<const std::uint8_t>(chunk.bytes.data(), *chunk.count);
}

}  // namespace orbitreel
