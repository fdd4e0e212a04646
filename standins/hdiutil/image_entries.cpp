#include "standins/hdiutil/image_entries.h"

#include <archive_entry.h>

#include <climits>

#include <map>
#include <utility>
#include <vector>

#include "standins/common/link_containment.h"
#include "standins/hdiutil/sealed_image_reader.h"

namespace orbitreel::standins {

namespace {

enum class Seen { impliedFolder, folder, file, link };

std::optional<struct timespec> timeOf(bool set, time_t seconds, long nanoseconds) {
    if (!set) return std::nullopt;
    return timespec{seconds, nanoseconds};
}

class EntryReading {
public:
    EntryReading(struct archive* reader, const ExtractionLimits& limits, std::string reserved, EntrySink* sink)
        : reader_(reader), limits_(limits), reserved_(std::move(reserved)), sink_(sink) {}

    Result<void> run() {
        for (;;) {
            archive_entry* entry = nullptr;
            int status = archive_read_next_header(reader_, &entry);
            if (status == ARCHIVE_EOF) break;
            // A warning here means the reader skipped or guessed something.
            if (status != ARCHIVE_OK) return failure(archiveMessage(reader_, "image damaged"));
            auto checked = check(entry);
            if (!checked) return fail_with(checked.error());
            if (!*checked) continue;  // the root
            auto read = hand(**checked);
            if (!read) return read;
        }
        // Links are judged on the finished tree, where every link they pass
        // through exists.
        auto lookup = [this](const std::string& path) -> Result<std::optional<std::string>> {
            auto found = seen_.find(path);
            if (found == seen_.end() || found->second.first != Seen::link) return std::optional<std::string>();
            return std::optional<std::string>(found->second.second);
        };
        for (const auto& path : links_) {
            auto contained = checkLinkStaysInside(lookup, path, seen_.at(joinPath(path)).second);
            if (!contained) return contained;
        }
        return {};
    }

private:
    // The entry as it may be written, or nothing for the root itself.
    Result<std::optional<CheckedEntry>> check(archive_entry* entry) {
        const char* name = archive_entry_pathname(entry);
        if (name == nullptr) return failure("an entry without a name");
        auto path = checkedEntryPath(name);
        if (!path) return fail_with(path.error());
        const mode_t type = archive_entry_filetype(entry);
        if (path->empty()) {
            if (type == AE_IFDIR && archive_entry_symlink(entry) == nullptr && archive_entry_hardlink(entry) == nullptr)
                return std::optional<CheckedEntry>();  // the image's root is the mount point
            return failure("an entry names the root");
        }
        if (++entries_ > limits_.maxEntries)
            return failure("image holds more than " + std::to_string(limits_.maxEntries) + " entries");
        CheckedEntry checked;
        checked.where = joinPath(*path);
        if (checked.where.size() > limits_.maxPathBytes || path->size() > limits_.maxDepth)
            return failure("path too long or too deep: " + checked.where.substr(0, 64) + "...");
        for (const std::string& part : *path)
            if (part.size() > NAME_MAX) return failure("name too long: " + checked.where.substr(0, 64) + "...");
        if ((*path)[0] == reserved_) return failure("reserved name in the image: " + reserved_);
        checked.path = std::move(*path);

        auto parents = checkParents(checked.path);
        if (!parents) return fail_with(parents.error());
        auto existing = seen_.find(checked.where);
        checked.wasImplied = existing != seen_.end() && existing->second.first == Seen::impliedFolder;
        if (existing != seen_.end() && !(checked.wasImplied && type == AE_IFDIR))
            return failure("two entries with one path: " + checked.where);

        auto kind = kindOf(entry, type, checked);
        if (!kind) return fail_with(kind.error());
        checked.kind = *kind;
        checked.perm = archive_entry_perm(entry) & 0777;
        checked.modified =
            timeOf(archive_entry_mtime_is_set(entry), archive_entry_mtime(entry), archive_entry_mtime_nsec(entry));
        checked.accessed =
            timeOf(archive_entry_atime_is_set(entry), archive_entry_atime(entry), archive_entry_atime_nsec(entry));
        seen_[checked.where] = {checked.kind == EntryKind::folder ? Seen::folder
                                : checked.kind == EntryKind::link ? Seen::link
                                                                  : Seen::file,
                                checked.linkTarget};
        if (checked.kind == EntryKind::link) links_.push_back(checked.path);
        return std::optional<CheckedEntry>(std::move(checked));
    }

    // One truth for the kind: the mode. Other records of the entry (a link's
    // target, a hard link's) must agree with it, since a writer that went by
    // them would create something else than what was checked.
    Result<EntryKind> kindOf(archive_entry* entry, mode_t type, CheckedEntry& checked) {
        const std::string& where = checked.where;
        const char* symlink = archive_entry_symlink(entry);
        const char* hardlink = archive_entry_hardlink(entry);
        if (symlink != nullptr && type != AE_IFLNK)
            return failure("entry's records disagree: a link target on what its mode makes no link: " + where);
        if (hardlink != nullptr && type != AE_IFREG && type != 0)
            return failure("entry's records disagree: a hard link on what its mode makes no file: " + where);
        switch (hardlink != nullptr ? AE_IFREG : type) {
            case AE_IFDIR:
                return EntryKind::folder;
            case AE_IFREG: {
                if (hardlink == nullptr) {
                    la_int64_t declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
                    if (declared < 0 || static_cast<std::uint64_t>(declared) > limits_.maxTotalBytes - bytes_)
                        return tooLarge();
                    return EntryKind::file;
                }
                auto target = checkedEntryPath(hardlink);
                if (!target)
                    return failure("hard link refused: " + where + " -> " + target.error().localizedDescription());
                auto found = seen_.find(joinPath(*target));
                if (target->empty() || found == seen_.end() || found->second.first != Seen::file)
                    return failure("hard link to something that is no file of the image: " + where + " -> " + hardlink);
                checked.hardLinkTarget = std::move(*target);
                return EntryKind::hardLink;
            }
            case AE_IFLNK: {
                if (symlink == nullptr)
                    return failure("entry's records disagree: no link target on what its mode makes a link: " + where);
                if (*symlink == '\0') return failure("link without a target: " + where);
                if (std::string_view(symlink).size() > limits_.maxPathBytes)
                    return failure("link target too long: " + where);
                if (*symlink == '/') return failure("link to an absolute path: " + where + " -> " + symlink);
                checked.linkTarget = symlink;
                return EntryKind::link;
            }
            case AE_IFCHR:
            case AE_IFBLK:
                return failure("device file refused: " + where);
            case AE_IFIFO:
                return failure("FIFO refused: " + where);
            default:
                return failure("entry of unsupported kind refused: " + where);
        }
    }

    // Every folder on the way must be a folder of this image; those not
    // named yet are made now.
    Result<void> checkParents(const PathComponents& path) {
        for (std::size_t depth = 1; depth < path.size(); ++depth) {
            std::string parent = joinPath(path, depth);
            auto found = seen_.find(parent);
            if (found == seen_.end()) {
                seen_.emplace(std::move(parent), std::pair{Seen::impliedFolder, std::string()});
                if (sink_ != nullptr) {
                    auto made = sink_->impliedFolder(PathComponents(path.begin(), path.begin() + depth));
                    if (!made) return made;
                }
            } else if (found->second.first == Seen::link) {
                return failure("entry written through a link refused: " + joinPath(path));
            } else if (found->second.first == Seen::file) {
                return failure("entry below a file refused: " + joinPath(path));
            }
        }
        return {};
    }

    // The entry to the sink, with its content, which is read in any case.
    Result<void> hand(const CheckedEntry& checked) {
        if (sink_ != nullptr) {
            auto begun = sink_->begin(checked);
            if (!begun) return begun;
        }
        if (checked.kind == EntryKind::file) {
            for (;;) {
                const void* block = nullptr;
                std::size_t size = 0;
                la_int64_t offset = 0;
                int status = archive_read_data_block(reader_, &block, &size, &offset);
                if (status == ARCHIVE_EOF) break;
                if (status != ARCHIVE_OK || offset < 0)
                    return failure(archiveMessage(reader_, "image damaged in " + checked.where));
                bytes_ += size;
                if (bytes_ > limits_.maxTotalBytes) return tooLarge();
                if (sink_ != nullptr) {
                    auto written = sink_->content(block, size, static_cast<std::uint64_t>(offset));
                    if (!written) return written;
                }
            }
        }
        return sink_ != nullptr ? sink_->end() : Result<void>();
    }

    Failure tooLarge() const {
        return failure("image content larger than " + std::to_string(limits_.maxTotalBytes) + " bytes");
    }

    struct archive* reader_;
    ExtractionLimits limits_;
    std::string reserved_;
    EntrySink* sink_;
    // What each path holds, and a link's target.
    std::map<std::string, std::pair<Seen, std::string>> seen_;
    std::vector<PathComponents> links_;
    std::uint64_t entries_ = 0;
    std::uint64_t bytes_ = 0;
};

}  // namespace

Result<void> readEntries(struct archive* reader, const ExtractionLimits& limits, const std::string& reservedName,
                         EntrySink* sink) {
    return EntryReading(reader, limits, reservedName, sink).run();
}

}  // namespace orbitreel::standins
