#include "standins/hdiutil/image_create.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "base/folder_entries.h"
#include "base/folder_walk.h"
#include "base/interrupted.h"
#include "base/unique_fd.h"
#include "standins/common/stream_chunk.h"
#include "standins/common/tree_rules.h"
#include "standins/hdiutil/folder_cursor.h"
#include "standins/hdiutil/image_seal.h"
#include "standins/hdiutil/sealed_image_reader.h"
#include "standins/hdiutil/volume_dates.h"

namespace orbitreel::standins {

namespace {

struct WriterDeleter {
    void operator()(struct archive* writer) const { archive_write_free(writer); }
};
struct EntryDeleter {
    void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

struct PlannedEntry {
    PathComponents path;
    struct stat st {};
    std::string target;  // links
};

// Everything the image will hold, checked before a byte of it is written.
class Plan : public base::TreeVisitor {
public:
    Result<std::vector<PlannedEntry>> make(int rootFd) {
        auto walked = base::walkFolder(rootFd, {}, ReadingTree, *this);
        if (!walked) return fail_with(walked.error());
        return std::move(entries_);
    }

    Result<bool> visit(const base::WalkItem& item) override {
        const std::string& name = item.name;
        const std::string& where = item.shown;
        // The reader hides a top folder of this name, where the format
        // keeps the folders it moves.
        if (item.path.size() == 1 && (name == "rr_moved" || name == ".rr_moved"))
            return failure("name reserved by the image format: " + name);
        PlannedEntry entry{item.path, item.status, {}};
        if (S_ISLNK(item.status.st_mode)) {
            auto target = base::readLinkAt(item.folder, name, where, readingWords);
            if (!target) return fail_with(target.error());
            entry.target = std::move(*target);
        } else if (!S_ISDIR(item.status.st_mode) && !S_ISREG(item.status.st_mode)) {
            return failure("only files, folders and links go into an image: " + where);
        }
        const bool folderEntry = S_ISDIR(item.status.st_mode);
        if (folderEntry && item.path.size() == MovedFolderDepth) {
            auto [other, added] = moved_.emplace(name, where);
            if (!added)
                return failure("two folders named " + name + " lie " + std::to_string(MovedFolderDepth) +
                               " deep, where the image format moves them into one folder: " + other->second + " and " +
                               where);
        }
        entries_.push_back(std::move(entry));
        return folderEntry;
    }

private:
    std::vector<PlannedEntry> entries_;
    std::map<std::string, std::string> moved_;  // name -> the first folder of that name
};

class ImageWriter {
public:
    ImageWriter(struct archive* writer, int rootFd)
        : writer_(writer), folders_(rootFd), buffer_(std::make_unique_for_overwrite<char[]>(StreamChunkSize)) {}

    Result<void> add(const PlannedEntry& planned) {
        const std::string path = joinPath(planned.path);
        std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
        archive_entry_copy_stat(entry.get(), &planned.st);
        archive_entry_set_pathname(entry.get(), path.c_str());
        // The builder's accounts mean nothing on the user's machine.
        archive_entry_set_uid(entry.get(), 0);
        archive_entry_set_gid(entry.get(), 0);
        archive_entry_set_nlink(entry.get(), 1);
        if (!S_ISREG(planned.st.st_mode)) {
            if (S_ISLNK(planned.st.st_mode)) archive_entry_set_symlink(entry.get(), planned.target.c_str());
            archive_entry_set_size(entry.get(), 0);
            return writeHeader(entry.get(), path);
        }
        auto folder = folders_.open(planned.path, planned.path.size() - 1);
        if (!folder) return fail_with(folder.error());
        base::UniqueFd file(::openat(*folder, planned.path.back().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!file) return failure("cannot open " + path, errno);
        if (::fstat(file.get(), &st) != 0 || st.st_ino != planned.st.st_ino || st.st_dev != planned.st.st_dev)
            return failure("file changed while being read: " + path);
        auto written = writeHeader(entry.get(), path);
        if (!written) return written;
        return copyData(file.get(), static_cast<std::uint64_t>(planned.st.st_size), path);
    }

private:
    Result<void> writeHeader(archive_entry* entry, const std::string& path) {
        if (archive_write_header(writer_, entry) != ARCHIVE_OK)
            return failure(archiveMessage(writer_, "cannot add " + path));
        return {};
    }

    Result<void> copyData(int fd, std::uint64_t expected, const std::string& path) {
        std::uint64_t total = 0;
        for (;;) {
            const ssize_t got = base::retryInterrupted([&] { return ::read(fd, buffer_.get(), StreamChunkSize); });
            if (got < 0) return failure("cannot read " + path, errno);
            if (got == 0) break;
            total += static_cast<std::uint64_t>(got);
            if (total > expected) break;
            if (archive_write_data(writer_, buffer_.get(), static_cast<std::size_t>(got)) != got)
                return failure(archiveMessage(writer_, "cannot write " + path));
        }
        if (total != expected) return failure("file changed while being read: " + path);
        return {};
    }

    struct archive* writer_;
    FolderCursor folders_;
    std::unique_ptr<char[]> buffer_;
};

Result<void> writeVolume(int sourceFd, const std::vector<PlannedEntry>& entries, int imageFd) {
    std::unique_ptr<struct archive, WriterDeleter> writer(archive_write_new());
    if (!writer) return failure("out of memory");
    if (archive_write_set_format_iso9660(writer.get()) != ARCHIVE_OK ||
        // Strict Rock Ridge keeps modes as they are (the signature covers
        // them); the default rewrites them, clearing write and set-id bits.
        archive_write_set_format_option(writer.get(), "iso9660", "rockridge", "strict") != ARCHIVE_OK ||
        // Rock Ridge carries the names whole; Joliet would only add a second,
        // shortened copy that fails for names the locale cannot convert.
        archive_write_set_format_option(writer.get(), "iso9660", "joliet", nullptr) != ARCHIVE_OK ||
        archive_write_set_bytes_in_last_block(writer.get(), 1) != ARCHIVE_OK ||
        archive_write_open_fd(writer.get(), imageFd) != ARCHIVE_OK)
        return failure(archiveMessage(writer.get(), "cannot start the image"));

    ImageWriter images(writer.get(), sourceFd);
    for (const PlannedEntry& entry : entries) {
        auto added = images.add(entry);
        if (!added) return added;
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return failure(archiveMessage(writer.get(), "cannot finish the image"));
    return {};
}

// No time later than the source date; the access time is the modification
// time, since reading the entry for the image moves it.
void clampTimes(std::vector<PlannedEntry>& entries, std::int64_t sourceDate) {
    const timespec latest{static_cast<time_t>(sourceDate), 0};
    const auto clamped = [&](const timespec& time) { return time.tv_sec < latest.tv_sec ? time : latest; };
    for (PlannedEntry& entry : entries) {
        entry.st.st_mtim = clamped(entry.st.st_mtim);
        entry.st.st_atim = entry.st.st_mtim;
        entry.st.st_ctim = clamped(entry.st.st_ctim);
    }
}

}  // namespace

Result<void> createImage(const std::filesystem::path& srcFolder, const std::filesystem::path& image,
                         std::optional<std::int64_t> sourceDate) {
    struct stat st {};
    if (::lstat(image.c_str(), &st) == 0) return failure("cannot create " + image.string() + ": it exists");
    auto source = base::openFolderAtPath(srcFolder.string(), openingWords);
    if (!source) return fail_with(source.error());
    auto entries = Plan().make(source->get());
    if (!entries) return fail_with(entries.error());
    if (sourceDate) clampTimes(*entries, *sourceDate);

    // A temporary name beside the image, so that the rename stays on one
    // file system and nothing takes the image's name before it is sealed.
    const std::filesystem::path folder = image.parent_path().empty() ? "." : image.parent_path();
    std::string temporary = (folder / ("." + image.filename().string() + ".XXXXXX")).string();
    base::UniqueFd imageFd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!imageFd) return failure("cannot create " + image.string(), errno);
    auto written = writeVolume(source->get(), *entries, imageFd.get());
    if (written && sourceDate) written = pinVolumeDates(imageFd.get(), *sourceDate);
    if (written && (::fchmod(imageFd.get(), 0644) != 0 || ::fsync(imageFd.get()) != 0))
        written = failure("cannot write " + image.string(), errno);
    imageFd.reset();
    if (written) written = sealImage(temporary);
    if (written && ::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, image.c_str(), RENAME_NOREPLACE) != 0)
        written = failure("cannot create " + image.string(), errno);
    if (!written) ::unlink(temporary.c_str());
    return written;
}

}  // namespace orbitreel::standins
