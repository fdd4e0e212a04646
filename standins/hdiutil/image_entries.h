#pragma once
// The one reading of an image's entries, for verify and attach alike. Every
// rule an entry must meet is checked here, before anything is written, so
// that verify refuses every image that attach refuses. Refused, failing the
// whole reading: absolute paths and "..", a second entry with the same path,
// anything below a link or a file, links that resolve outside the root
// (judged on the finished tree), hard links to anything but a file named
// before, devices, FIFOs and sockets, an entry whose records disagree on its
// kind, the name `reservedName` at the top, and content beyond `limits`.

#include <archive.h>
#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

#include "standins/common/failure.h"
#include "standins/common/relative_path.h"
#include "standins/hdiutil/extraction_limits.h"

namespace orbitreel::standins {

enum class EntryKind { folder, file, hardLink, link };

struct CheckedEntry {
    PathComponents path;  // never empty
    std::string where;    // the path joined, for messages
    EntryKind kind = EntryKind::file;
    mode_t perm = 0;  // without set-id and sticky bits
    std::optional<struct timespec> modified;
    std::optional<struct timespec> accessed;
    bool wasImplied = false;        // a folder that entries below it named first
    std::string linkTarget;         // links
    PathComponents hardLinkTarget;  // hard links: a file read before
};

// What attach does with the entries; verify reads them without one.
class EntrySink {
public:
    virtual ~EntrySink() = default;
    // A folder that an entry's path passes through before the folder's own
    // entry, if it has one.
    virtual Result<void> impliedFolder(const PathComponents& path) = 0;
    virtual Result<void> begin(const CheckedEntry& entry) = 0;
    // The content of the file just begun, in blocks at their offsets.
    virtual Result<void> content(const void* block, std::size_t size, std::uint64_t offset) = 0;
    virtual Result<void> end() = 0;
};

// Reads every entry and its content from `reader`, handing those that pass to
// `sink` (when there is one). The content is read in any case: a reader that
// cannot go back then refuses content that lies before what it has read
// (overlapping or looping extents).
Result<void> readEntries(struct archive* reader, const ExtractionLimits& limits, const std::string& reservedName,
                         EntrySink* sink);

}  // namespace orbitreel::standins
