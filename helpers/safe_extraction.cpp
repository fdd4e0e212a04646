#include "helpers/safe_extraction.h"

#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "base/unique_fd.h"
#include "helpers/folder_tree.h"
#include "helpers/image_content.h"
#include "helpers/link_containment.h"
#include "helpers/relative_path.h"
#include "helpers/sealed_image_reader.h"

namespace orbitreel::helpers {

namespace {

enum class Kind { impliedFolder, folder, file, link };

// libarchive's disk writer works relative to the working folder (its secure
// flags refuse absolute paths), and applies folder modes and times when it is
// closed; the working folder must stay `root` until then.
class WorkingFolder {
public:
    static Outcome<std::unique_ptr<WorkingFolder>> enter(int folderFd) {
        std::unique_ptr<WorkingFolder> guard(new WorkingFolder());
        guard->previous_.reset(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!guard->previous_) return failure(posixMessage("cannot note the working folder", errno));
        if (::fchdir(folderFd) != 0) return failure(posixMessage("cannot enter the mount point", errno));
        return guard;
    }
    ~WorkingFolder() { (void)::fchdir(previous_.get()); }

private:
    WorkingFolder() = default;
    base::UniqueFd previous_;
};

struct DiskWriterDeleter {
    void operator()(struct archive* disk) const { archive_write_free(disk); }
};

class Extraction {
public:
    Extraction(struct archive* reader, const MappedImage* image, struct archive* disk, const ExtractionLimits& limits,
               std::string reserved)
        : reader_(reader), image_(image), disk_(disk), limits_(limits), reserved_(std::move(reserved)) {}

    Outcome<void> run() {
        for (;;) {
            archive_entry* entry = nullptr;
            int status = archive_read_next_header(reader_, &entry);
            if (status == ARCHIVE_EOF) break;
            // A warning here means the reader skipped or guessed something.
            if (status != ARCHIVE_OK) return failure(archiveMessage(reader_, "image damaged"));
            auto extracted = extract(entry);
            if (!extracted) return extracted;
        }
        if (archive_write_close(disk_) != ARCHIVE_OK)
            return failure(archiveMessage(disk_, "cannot finish the extraction"));
        return {};
    }

    const std::vector<std::pair<PathComponents, std::string>>& links() const { return links_; }

private:
    Outcome<void> extract(archive_entry* entry) {
        const char* name = archive_entry_pathname(entry);
        if (name == nullptr) return failure("an entry without a name");
        auto path = checkedEntryPath(name);
        if (!path) return failure(path.error());
        const mode_t type = archive_entry_filetype(entry);
        if (path->empty()) {
            if (type == AE_IFDIR) return {};  // the image's root is the mount point
            return failure("an entry names the root");
        }
        if (++entries_ > limits_.maxEntries)
            return failure("image holds more than " + std::to_string(limits_.maxEntries) + " entries");
        const std::string where = joinPath(*path);
        if (where.size() > limits_.maxPathBytes || path->size() > limits_.maxDepth)
            return failure("path too long or too deep: " + where.substr(0, 64) + "...");
        if ((*path)[0] == reserved_) return failure("reserved name in the image: " + reserved_);

        auto parents = checkParents(*path);
        if (!parents) return parents;
        auto existing = seen_.find(where);
        if (existing != seen_.end() && !(existing->second == Kind::impliedFolder && type == AE_IFDIR))
            return failure("two entries with one path: " + where);

        Kind kind;
        bool hasData = false;
        // Some formats give a hard link no kind of its own.
        const char* hardlink = archive_entry_hardlink(entry);
        switch (hardlink != nullptr && type == 0 ? AE_IFREG : type) {
            case AE_IFDIR:
                if (hardlink != nullptr) return failure("hard link to a folder refused: " + where);
                kind = Kind::folder;
                break;
            case AE_IFREG: {
                kind = Kind::file;
                if (hardlink != nullptr) {
                    auto target = checkedHardLinkTarget(hardlink, where);
                    if (!target) return failure(target.error());
                    archive_entry_set_hardlink(entry, target->c_str());
                    archive_entry_set_size(entry, 0);
                } else {
                    hasData = true;
                    la_int64_t declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
                    if (declared < 0 || static_cast<std::uint64_t>(declared) > limits_.maxTotalBytes - bytes_)
                        return tooLarge();
                }
                break;
            }
            case AE_IFLNK: {
                if (hardlink != nullptr) return failure("hard link and link at once refused: " + where);
                kind = Kind::link;
                const char* target = archive_entry_symlink(entry);
                if (target == nullptr || *target == '\0') return failure("link without a target: " + where);
                if (std::string_view(target).size() > limits_.maxPathBytes)
                    return failure("link target too long: " + where);
                if (*target == '/') return failure("link to an absolute path: " + where + " -> " + target);
                links_.emplace_back(*path, target);
                break;
            }
            case AE_IFCHR:
            case AE_IFBLK:
                return failure("device file refused: " + where);
            case AE_IFIFO:
                return failure("FIFO refused: " + where);
            default:
                return failure("entry of unsupported kind refused: " + where);
        }

        archive_entry_set_pathname(entry, where.c_str());
        // Set-id and sticky bits mean nothing good in a downloaded image.
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        // Content out of a mapped image is ours to write, past the disk
        // writer, which then has no bytes to expect.
        const bool ownContent = hasData && image_ != nullptr;
        if (ownContent) archive_entry_set_size(entry, 0);
        if (archive_write_header(disk_, entry) != ARCHIVE_OK)
            return failure(archiveMessage(disk_, "cannot extract " + where));
        if (ownContent) {
            auto copied = copyMappedData(where, archive_entry_perm(entry));
            if (!copied) return copied;
        } else if (hasData) {
            auto copied = copyData(where, nullptr);
            if (!copied) return copied;
        }
        if (archive_write_finish_entry(disk_) != ARCHIVE_OK)
            return failure(archiveMessage(disk_, "cannot extract " + where));
        seen_[where] = kind;
        return {};
    }

    // Every folder on the way must be a folder of this extraction; the disk
    // writer creates those not named yet.
    Outcome<void> checkParents(const PathComponents& path) {
        for (std::size_t depth = 1; depth < path.size(); ++depth) {
            std::string parent = joinPath(path, depth);
            auto found = seen_.find(parent);
            if (found == seen_.end()) {
                seen_.emplace(std::move(parent), Kind::impliedFolder);
            } else if (found->second == Kind::link) {
                return failure("entry written through a link refused: " + joinPath(path));
            } else if (found->second == Kind::file) {
                return failure("entry below a file refused: " + joinPath(path));
            }
        }
        return {};
    }

    // The target as a path below the root, when it names a file extracted before.
    Outcome<std::string> checkedHardLinkTarget(const char* target, const std::string& where) {
        auto path = checkedEntryPath(target);
        if (!path) return failure("hard link refused: " + where + " -> " + path.error());
        std::string inside = joinPath(*path);
        auto found = seen_.find(inside);
        if (found == seen_.end() || found->second != Kind::file)
            return failure("hard link to something that is no file of the image: " + where + " -> " + target);
        return inside;
    }

    // Through the disk writer, or `own` when the content is ours to write.
    Outcome<void> copyData(const std::string& where, ContentWriter* own) {
        for (;;) {
            const void* block = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            int status = archive_read_data_block(reader_, &block, &size, &offset);
            if (status == ARCHIVE_EOF) return {};
            if (status != ARCHIVE_OK) return failure(archiveMessage(reader_, "image damaged in " + where));
            bytes_ += size;
            if (bytes_ > limits_.maxTotalBytes) return tooLarge();
            if (own != nullptr) {
                if (offset < 0) return failure("image damaged in " + where);
                auto written = own->write(block, size, static_cast<std::uint64_t>(offset));
                if (!written) return written;
            } else if (archive_write_data_block(disk_, block, size, offset) != ARCHIVE_OK) {
                return failure(archiveMessage(disk_, "cannot write " + where));
            }
        }
    }

    // The disk writer just created the file, with its final mode, in a
    // folder only we write (so no link stands at `where`); the owner may need
    // to write it for a moment.
    Outcome<void> copyMappedData(const std::string& where, mode_t mode) {
        if (::fchmodat(AT_FDCWD, where.c_str(), S_IRUSR | S_IWUSR, 0) != 0)
            return failure(posixMessage("cannot write " + where, errno));
        base::UniqueFd file(::open(where.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!file) return failure(posixMessage("cannot write " + where, errno));
        ContentWriter writer(*image_, file.get(), where);
        auto copied = copyData(where, &writer);
        if (!copied) return copied;
        if (::fchmod(file.get(), mode) != 0 || ::close(file.release()) != 0)
            return failure(posixMessage("cannot write " + where, errno));
        return {};
    }

    std::unexpected<std::string> tooLarge() const {
        return failure("image content larger than " + std::to_string(limits_.maxTotalBytes) + " bytes");
    }

    struct archive* reader_;
    const MappedImage* image_;
    struct archive* disk_;
    ExtractionLimits limits_;
    std::string reserved_;
    std::map<std::string, Kind> seen_;
    std::vector<std::pair<PathComponents, std::string>> links_;
    std::uint64_t entries_ = 0;
    std::uint64_t bytes_ = 0;
};

}  // namespace

Outcome<void> extractEntries(struct archive* reader, const std::filesystem::path& root, const ExtractionLimits& limits,
                             const std::string& reservedName, const MappedImage* image) {
    auto rootFd = openFolder(root);
    if (!rootFd) return failure(rootFd.error());
    auto inside = WorkingFolder::enter(rootFd->get());
    if (!inside) return failure(inside.error());

    // Declared after the working folder, so freed (and its pending folder
    // modes applied) while still inside it.
    std::unique_ptr<struct archive, DiskWriterDeleter> disk(archive_write_disk_new());
    if (!disk) return failure("out of memory");
    archive_write_disk_set_options(disk.get(), ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                   ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS | ARCHIVE_EXTRACT_PERM |
                                                   ARCHIVE_EXTRACT_TIME);

    Extraction extraction(reader, image, disk.get(), limits, reservedName);
    auto extracted = extraction.run();
    if (!extracted) return extracted;
    // Links are judged on the finished tree, where every link they pass
    // through exists.
    for (const auto& [path, target] : extraction.links()) {
        auto contained = checkLinkStaysInside(rootFd->get(), path, target);
        if (!contained) return contained;
    }
    return {};
}

}  // namespace orbitreel::helpers
