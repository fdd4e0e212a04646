#include "helpers/image_create.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "base/sha256.h"
#include "base/unique_fd.h"
#include "helpers/folder_tree.h"
#include "helpers/image_seal.h"
#include "helpers/sealed_image_reader.h"

namespace orbitreel::helpers {

namespace {

struct WriterDeleter {
    void operator()(struct archive* writer) const { archive_write_free(writer); }
};
struct EntryDeleter {
    void operator()(archive_entry* entry) const { archive_entry_free(entry); }
};

class ImageWriter {
public:
    explicit ImageWriter(struct archive* writer)
        : writer_(writer), buffer_(std::make_unique_for_overwrite<char[]>(base::StreamChunkSize)) {}

    Outcome<void> addFolderContent(int dirFd, const std::string& prefix) {
        auto names = sortedNames(dirFd);
        if (!names) return failure(names.error());
        for (const std::string& name : *names) {
            auto added = add(dirFd, name, joinRelative(prefix, name));
            if (!added) return added;
        }
        return {};
    }

private:
    Outcome<void> add(int dirFd, const std::string& name, const std::string& path) {
        auto st = statEntry(dirFd, name);
        if (!st) return failure(st.error());
        std::unique_ptr<archive_entry, EntryDeleter> entry(archive_entry_new());
        archive_entry_copy_stat(entry.get(), &*st);
        archive_entry_set_pathname(entry.get(), path.c_str());
        // The builder's accounts mean nothing on the user's machine.
        archive_entry_set_uid(entry.get(), 0);
        archive_entry_set_gid(entry.get(), 0);
        archive_entry_set_nlink(entry.get(), 1);

        if (S_ISLNK(st->st_mode)) {
            auto target = readLinkAt(dirFd, name);
            if (!target) return failure(target.error());
            archive_entry_set_symlink(entry.get(), target->c_str());
            archive_entry_set_size(entry.get(), 0);
            return writeHeader(entry.get(), path);
        }
        if (S_ISDIR(st->st_mode)) {
            archive_entry_set_size(entry.get(), 0);
            auto written = writeHeader(entry.get(), path);
            if (!written) return written;
            auto sub = openFolder(dirFd, name);
            if (!sub) return failure(sub.error());
            return addFolderContent(sub->get(), path);
        }
        if (!S_ISREG(st->st_mode)) return failure("only files, folders and links go into an image: " + path);

        base::UniqueFd file(::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!file) return failure(posixMessage("cannot open " + path, errno));
        auto written = writeHeader(entry.get(), path);
        if (!written) return written;
        return copyData(file.get(), static_cast<std::uint64_t>(st->st_size), path);
    }

    Outcome<void> writeHeader(archive_entry* entry, const std::string& path) {
        if (archive_write_header(writer_, entry) != ARCHIVE_OK)
            return failure(archiveMessage(writer_, "cannot add " + path));
        return {};
    }

    Outcome<void> copyData(int fd, std::uint64_t expected, const std::string& path) {
        std::uint64_t total = 0;
        for (;;) {
            ssize_t got = ::read(fd, buffer_.get(), base::StreamChunkSize);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return failure(posixMessage("cannot read " + path, errno));
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
    std::unique_ptr<char[]> buffer_;
};

Outcome<void> writeVolume(const std::filesystem::path& srcFolder, int imageFd) {
    auto source = openFolder(srcFolder);
    if (!source) return failure(source.error());

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

    ImageWriter images(writer.get());
    auto added = images.addFolderContent(source->get(), "");
    if (!added) return added;
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return failure(archiveMessage(writer.get(), "cannot finish the image"));
    return {};
}

}  // namespace

Outcome<void> createImage(const std::filesystem::path& srcFolder, const std::filesystem::path& image) {
    base::UniqueFd imageFd(::open(image.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (!imageFd) return failure(posixMessage("cannot create " + image.string(), errno));
    auto written = writeVolume(srcFolder, imageFd.get());
    if (written && ::fsync(imageFd.get()) != 0)
        written = failure(posixMessage("cannot write " + image.string(), errno));
    imageFd.reset();
    if (written) written = sealImage(image);
    if (!written) ::unlink(image.c_str());
    return written;
}

}  // namespace orbitreel::helpers
