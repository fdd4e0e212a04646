#pragma once
// Reads a file ahead of the code that consumes it: a thread of its own fills
// one chunk while the consumer works on the other, so the copy out of the file
// overlaps the consumer's work. Memory stays at two chunks whatever the file.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/files.h"

namespace orbitreel {

class ReadAhead {
public:
    // Starts reading at once. The reader must outlive this object, and is
    // read only by its thread until this object is destroyed.
    ReadAhead(FileReader& reader, std::size_t chunkSize);
    // Stops the thread after the read in progress, and joins it.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The next chunk, valid until the next call; empty at the end of the
    // file. After the end or an error, every call answers the same.
    Result<std::span<const std::uint8_t>> next();

private:
    struct Chunk {
        std::vector<std::uint8_t> bytes;
        Result<std::size_t> count = 0;
        bool filled = false;
    };

    void readAll();
    static bool isLast(const Chunk& chunk) { return !chunk.count || *chunk.count == 0; }

    FileReader& reader_;
    Chunk chunks_[2];
    std::size_t current_ = 0;
    bool holding_ = false;
    bool stopping_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

}  // namespace orbitreel
