#pragma once
// File-system service: every file operation of the logic goes through here, so
// tests can wrap the real service and force a failure at one exact step.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
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

class PrivateFolder;

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
    // The names in a folder, in no particular order, without "." and "..".
    virtual Result<std::vector<std::string>> listFolder(const Path& folder) = 0;
    // Whether the item is a folder itself (not a link to one) that belongs
    // to the current user.
    virtual bool isOwnFolder(const Path& path) = 0;
    // Which item is at `path` (itself, never what a link points at).
    virtual Result<ItemIdentity> identityAt(const Path& path) = 0;
    // Makes a new folder at `path`, the person's own, mode 0700, and holds
    // it; fails when anything holds the name.
    virtual Result<std::unique_ptr<PrivateFolder>> makePrivateFolder(const Path& path) = 0;
    // Holds the item `identity` among the entries of `parent`, under
    // whatever name it lies now, when it is a private folder of the
    // person's own; null when no entry is that item.
    virtual Result<std::unique_ptr<PrivateFolder>> findPrivateFolder(const Path& parent,
                                                                     const ItemIdentity& identity) = 0;
    // The whole file as stored.
    virtual Result<Bytes> readAll(const Path& path) = 0;
    // Writes the whole file, creating or replacing it. An atomic write
    // replaces the file whole or not at all.
    virtual Result<void> write(const Path& path, std::span<const std::uint8_t> bytes, bool atomic) = 0;
    // Writes the whole file atomically, readable by the person alone, in a
    // folder of the person's alone (made when missing, refused when anyone
    // else may enter it), and flushes both to disk before it returns.
    virtual Result<void> writePrivately(const Path& path, std::span<const std::uint8_t> bytes) = 0;
    // Writes a new file; fails when anything, a link included, holds the name.
    virtual Result<void> create(const Path& path, std::span<const std::uint8_t> bytes) = 0;
    virtual Result<std::unique_ptr<FileReader>> openForReading(const Path& path) = 0;
    // Fails when the file does not exist, and when a link holds its name:
    // what is written never lands elsewhere.
    virtual Result<std::unique_ptr<FileAppender>> openForWriting(const Path& path) = 0;
};

// A folder of the person's own that this run made, held open. Others who
// may write the folder around it may rename it at any moment; the folder
// itself, and what lies in it, stay this run's, since nobody else may enter
// it. Every operation on its entries goes through it, never through a name
// in the folder around it.
class PrivateFolder {
public:
    virtual ~PrivateFolder() = default;
    virtual ItemIdentity identity() const = 0;
    // Where it was made, for messages; the name may hold something else now.
    virtual const Path& shownPath() const = 0;
    // A path that reaches the entry `name` inside this very folder for as
    // long as it is held, whatever the folder is called by then: for the
    // tools that fill and check a copy.
    virtual Path pathInside(const std::string& name) const = 0;
    // Makes an empty folder `name` inside, the person's own, mode 0700.
    virtual Result<ItemIdentity> makeFolder(const std::string& name) = 0;
    // Which item the entry `name` inside is; absent when there is none.
    virtual Result<std::optional<ItemIdentity>> identityOf(const std::string& name) = 0;
    // The names inside.
    virtual Result<std::vector<std::string>> names() = 0;
    // Exchanges the entry `name` inside with the item at `outside`, in one
    // step (see Files::exchange).
    virtual Result<Files::Exchange> exchangeWith(const std::string& name, const Path& outside) = 0;
    // Moves the entry `name` inside to `outside`, or the item at `outside`
    // in as `name`; either fails when its destination exists.
    virtual Result<void> moveOut(const std::string& name, const Path& outside) = 0;
    virtual Result<void> moveIn(const Path& outside, const std::string& name) = 0;
    // Removes the entry `name` inside and everything below it.
    virtual Result<void> removeInside(const std::string& name) = 0;
    // Moves the entry `name` inside to the person's Trash as `trashedName`,
    // recorded as having lain at `shownAt`. Only a Trash of the person's own
    // is used; none, and the entry stays. A trashing of this same name that
    // a killed run left half-done is put right first, so no record in the
    // Trash ever lacks its item.
    virtual Result<void> trashInside(const std::string& name, const std::string& trashedName,
                                     const Path& shownAt) = 0;
    // Flushes everything on the folder's file system to disk.
    virtual Result<void> flush() = 0;
    // Removes the folder itself, which must be empty, from `parent`, where
    // it may lie under any name.
    virtual Result<void> removeFrom(const Path& parent) = 0;
};

inline std::span<const std::uint8_t> asBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace orbitreel
