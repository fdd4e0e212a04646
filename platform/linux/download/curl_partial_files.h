#pragma once
// The session's folder of partial downloads. Each task writes its body into a
// file of its own there, held under an exclusive lock while in use, so a
// clean-up (here or in another installer process) never removes a file that
// a running task still writes.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "platform/files.h"

namespace orbitreel {

// An open partial file with a write buffer, so a fast transfer does not turn
// into one system call per network read.
class PartialFile {
public:
    PartialFile() = default;
    PartialFile(base::UniqueFd fd, Path path, std::int64_t size);

    const Path& path() const { return path_; }
    // Bytes of the file: on disk plus still buffered.
    std::int64_t size() const { return onDisk_ + static_cast<std::int64_t>(buffer_.size()); }
    // The errno of the first failed write, 0 while none failed.
    int error() const { return error_; }

    bool append(const char* data, std::size_t length);
    bool flush();
    // Empties the file, for a server that starts over from the first byte.
    bool restart();
    // Flushes and closes; the lock goes with the descriptor.
    bool close();

private:
    bool writeOut(const std::uint8_t* data, std::size_t length);

    base::UniqueFd fd_;
    Path path_;
    std::int64_t onDisk_ = 0;
    std::vector<std::uint8_t> buffer_;
    int error_ = 0;
};

class PartialFolder {
public:
    explicit PartialFolder(Path folder) : folder_(std::move(folder)) {}
    const Path& path() const { return folder_; }

    // A fresh name "download-<32 hex>.part".
    static std::string newPartialName();

    // Creates the folder when missing, then a new, empty partial file.
    Result<PartialFile> create(const std::string& name);
    // Opens an existing partial file for continuing at its end. Fails with an
    // errno when it is missing, not a plain file, in use, or not `size` long.
    Result<PartialFile> reopen(const std::string& name, std::int64_t size);
    // An empty, locked file for a response that is handed over without a body.
    Result<PartialFile> createEmptyResponseFile();

    // Removes the partial and response files that no task holds, but for
    // those named in `keep`.
    void prune(const std::set<std::string>& keep) const;

private:
    Path folder_;
};

}  // namespace orbitreel
