#pragma once
// A decorator of the real file service that fails chosen operations, for the
// failures that cannot be provoked for real (a rename that fails at one exact
// step, a read that fails half-way).

#include <functional>
#include <optional>
#include <string>

#include "platform/files.h"

namespace orbitreel::test_support {

// The operations FaultyFiles can fail; `read` is each chunk read through a
// reader it opened.
enum class FileOperation {
    createDirectories,
    fileSize,
    move,
    exchange,
    remove,
    trash,
    listFolder,
    makePrivateFolder,
    flush,
    readAll,
    write,
    writePrivately,
    create,
    openForReading,
    openForWriting,
    read,
};

// The operation's name, for a test's messages.
const char* nameOf(FileOperation operation);

class FaultyFiles : public Files {
public:
    explicit FaultyFiles(Files& real) : real_(real) {}

    // Asked before every operation above with its paths (`to` is empty but
    // for move and exchange), and before those of the private folders it
    // hands out: there `from` is the entry inside, shown under the folder's
    // first name, and moves and exchanges count as such. An error fails the
    // operation without running it.
    using Fault = std::function<std::optional<Error>(FileOperation operation, const Path& from, const Path& to)>;
    Fault fault;
    // Answers every exchange, a private folder's too, as a file system
    // without one does.
    bool exchangeUnsupported = false;

    // A ready-made error for faults.
    static Error injected(const std::string& what = "fallo inyectado") { return PlatformError{"test", 5, what}; }

    Result<void> createDirectories(const Path& folder) override;
    bool exists(const Path& path) override { return real_.exists(path); }
    bool isWritable(const Path& path) override { return real_.isWritable(path); }
    Result<std::int64_t> fileSize(const Path& path) override;
    Result<void> move(const Path& from, const Path& to) override;
    Result<Exchange> exchange(const Path& first, const Path& second) override;
    Result<void> remove(const Path& path) override;
    Result<std::vector<std::string>> listFolder(const Path& folder) override;
    bool isOwnFolder(const Path& path) override { return real_.isOwnFolder(path); }
    Result<ItemIdentity> identityAt(const Path& path) override { return real_.identityAt(path); }
    Result<std::unique_ptr<PrivateFolder>> makePrivateFolder(const Path& path) override;
    Result<std::unique_ptr<PrivateFolder>> findPrivateFolder(const Path& parent, const ItemIdentity& identity) override;
    Result<void> writePrivately(const Path& path, std::span<const std::uint8_t> bytes) override;
    Result<Bytes> readAll(const Path& path) override;
    Result<void> write(const Path& path, std::span<const std::uint8_t> bytes, bool atomic) override;
    Result<void> create(const Path& path, std::span<const std::uint8_t> bytes) override;
    Result<std::unique_ptr<FileReader>> openForReading(const Path& path) override;
    Result<std::unique_ptr<FileAppender>> openForWriting(const Path& path) override;

private:
    friend class FaultyPrivateFolder;
    std::optional<Error> check(FileOperation operation, const Path& from, const Path& to = {}) const {
        return fault ? fault(operation, from, to) : std::nullopt;
    }
    Files& real_;
};

}  // namespace orbitreel::test_support
