#pragma once
// File-system service: every file operation of the logic goes through here, so
// tests can wrap the real service and force a failure at one exact step.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/error.h"

namespace orbitreel {

using Path = std::filesystem::path;
using Bytes = std::vector<std::uint8_t>;

// Which item a name held when it was looked at. Names change hands, and an
// inode number can be given to a new item once the old one is gone, but
// not together with the same birth time.
struct ItemIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t bornSeconds = 0;  // 0 and 0 where the file system keeps no birth time
    std::uint32_t bornNanoseconds = 0;

    friend bool operator==(const ItemIdentity&, const ItemIdentity&) = default;
};

// Sequential reader. `read` fills up to buffer.size() bytes and returns how
// many it read; fewer only at the end, 0 at end of file.
class FileReader {
public:
    virtual ~FileReader() = default;
    virtual Result<std::size_t> read(std::span<std::uint8_t> buffer) = 0;
    virtual Result<void> close() = 0;
};

// Writer on an existing file, used for appending.
class FileAppender {
public:
    virtual ~FileAppender() = default;
    virtual Result<void> seekToEnd() = 0;
    virtual Result<void> write(std::span<const std::uint8_t> bytes) = 0;
    virtual Result<void> close() = 0;
};

// The person's own folder, held open: its name may change hands (a folder
// others may write lets them rename entries), the folder itself does not.
class HeldFolder {
public:
    virtual ~HeldFolder() = default;
    // Succeeds when `path` still names the very folder that was held.
    virtual Result<void> isStillAt(const Path& path) = 0;
    virtual ItemIdentity identity() const = 0;
};

class Files {
public:
    virtual ~Files() = default;

    // Creates the folder and its missing parents; succeeds when it already
    // exists as a folder.
    virtual Result<void> createDirectories(const Path& folder) = 0;
    // Whether anything (file, folder, link) exists at the path.
    virtual bool exists(const Path& path) = 0;
    // Whether the current user may write the item, as the system sees it
    // (permissions, read-only mounts).
    virtual bool isWritable(const Path& path) = 0;
    // The file's size in bytes.
    virtual Result<std::int64_t> fileSize(const Path& path) = 0;
    // A rename that fails when the destination exists; across file systems it
    // copies and then removes the source, with the same refusal.
    virtual Result<void> move(const Path& from, const Path& to) = 0;
    // Swaps two existing entries of one file system in one atomic step: each
    // name then holds what the other held, and no moment sees either name
    // empty. `unsupported` when the file system cannot exchange entries;
    // nothing has changed then. Any other refusal, a missing side among
    // them, fails and changes nothing.
    enum class Exchange { done, unsupported };
    virtual Result<Exchange> exchange(const Path& first, const Path& second) = 0;
    // Deletes the item and its contents; fails when it does not exist. A
    // link is removed, never followed. Only the current user's own folders
    // are entered, each made the owner's to write first (a copy of a
    // read-only image can hold folders nobody may write); anyone else's
    // folder inside stops the removal.
    virtual Result<void> remove(const Path& path) = 0;
    // Moves the item to the current user's Trash.
    virtual Result<void> trash(const Path& path) = 0;
    // The names in a folder, in no particular order, without "." and "..".
    virtual Result<std::vector<std::string>> listFolder(const Path& folder) = 0;
    // When the item's own entry last changed (the item itself, not what a
    // link points at). Renaming the item counts as a change.
    virtual Result<std::chrono::system_clock::time_point> changeTime(const Path& path) = 0;
    // Whether the item is a folder itself (not a link to one) that belongs
    // to the current user.
    virtual bool isOwnFolder(const Path& path) = 0;
    // Holds the current user's own folder at `path` (not a link to one), so
    // that a later step can tell whether the name still holds it.
    virtual Result<std::unique_ptr<HeldFolder>> holdOwnFolder(const Path& path) = 0;
    // The whole file as stored.
    virtual Result<Bytes> readAll(const Path& path) = 0;
    // Writes the whole file, creating or replacing it. An atomic write
    // replaces the file whole or not at all.
    virtual Result<void> write(const Path& path, std::span<const std::uint8_t> bytes, bool atomic) = 0;
    // Writes a new file; fails when anything, a link included, holds the name.
    virtual Result<void> create(const Path& path, std::span<const std::uint8_t> bytes) = 0;
    virtual Result<std::unique_ptr<FileReader>> openForReading(const Path& path) = 0;
    // Fails when the file does not exist, and when a link holds its name:
    // what is written never lands elsewhere.
    virtual Result<std::unique_ptr<FileAppender>> openForWriting(const Path& path) = 0;
};

inline std::span<const std::uint8_t> asBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace orbitreel
