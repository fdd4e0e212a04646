#include "standins/hdiutil/safe_extraction.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <optional>

#include "base/folder_entries.h"
#include "base/unique_fd.h"
#include "standins/common/tree_rules.h"
#include "standins/hdiutil/folder_cursor.h"
#include "standins/hdiutil/image_content.h"
#include "standins/hdiutil/image_entries.h"

namespace orbitreel::standins {

namespace {

constexpr mode_t WriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

struct FinalState {
    mode_t perm = 0;
    std::optional<struct timespec> modified;
    std::optional<struct timespec> accessed;
};

// For futimens and utimensat: what the entry does not say stays as it is,
// but an access time follows the modification time.
void timesOf(const FinalState& state, struct timespec (&times)[2]) {
    const struct timespec omit { 0, UTIME_OMIT };
    times[1] = state.modified.value_or(omit);
    times[0] = state.accessed.value_or(times[1]);
}

class DiskWriter : public EntrySink {
public:
    DiskWriter(int rootFd, const MappedImage& image, bool readOnly)
        : image_(image), kept_(readOnly ? 0777 & ~WriteBits : 0777), entries_(rootFd), targets_(rootFd) {}

    Result<void> impliedFolder(const PathComponents& path) override {
        auto made = makeFolder(path);
        if (!made) return made;
        folders_[path] = FinalState{0755, std::nullopt, std::nullopt};
        return {};
    }

    Result<void> begin(const CheckedEntry& entry) override {
        auto parent = entries_.open(entry.path, entry.path.size() - 1);
        if (!parent) return fail_with(parent.error());
        const std::string& name = entry.path.back();
        const FinalState state{entry.perm, entry.modified, entry.accessed};
        switch (entry.kind) {
            case EntryKind::folder:
                if (!entry.wasImplied && ::mkdirat(*parent, name.c_str(), S_IRWXU) != 0)
                    return failure("cannot create " + entry.where, errno);
                folders_[entry.path] = state;
                return {};
            case EntryKind::file: {
                base::UniqueFd fd(::openat(*parent, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                           S_IRUSR | S_IWUSR));
                if (!fd) return failure("cannot create " + entry.where, errno);
                file_ = std::move(fd);
                fileState_ = state;
                where_ = entry.where;
                content_.emplace(image_, file_.get(), entry.where);
                return {};
            }
            case EntryKind::hardLink: {
                // The same file, whose mode and times are set already.
                auto from = targets_.open(entry.hardLinkTarget, entry.hardLinkTarget.size() - 1);
                if (!from) return fail_with(from.error());
                if (::linkat(*from, entry.hardLinkTarget.back().c_str(), *parent, name.c_str(), 0) != 0)
                    return failure("cannot create " + entry.where, errno);
                return {};
            }
            case EntryKind::link: {
                struct timespec times[2];
                timesOf(state, times);
                if (::symlinkat(entry.linkTarget.c_str(), *parent, name.c_str()) != 0 ||
                    ::utimensat(*parent, name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
                    return failure("cannot create " + entry.where, errno);
                return {};
            }
        }
        return failure("entry of unknown kind: " + entry.where);
    }

    Result<void> content(const void* block, std::size_t size, std::uint64_t offset) override {
        return content_->write(block, size, offset);
    }

    Result<void> end() override {
        if (!file_) return {};
        content_.reset();
        struct timespec times[2];
        timesOf(fileState_, times);
        if (::fchmod(file_.get(), fileState_.perm & kept_) != 0 || ::futimens(file_.get(), times) != 0 ||
            ::close(file_.release()) != 0)
            return failure("cannot write " + where_, errno);
        return {};
    }

    // Folders last, the deepest first: a folder's mode may forbid writing
    // into it, and what is written into it changes its times. In reverse
    // order of their components, every folder comes before its parent.
    Result<void> finish() {
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
            auto folder = entries_.open(it->first, it->first.size());
            if (!folder) return fail_with(folder.error());
            struct timespec times[2];
            timesOf(it->second, times);
            if (::fchmod(*folder, it->second.perm & kept_) != 0 || ::futimens(*folder, times) != 0)
                return failure("cannot finish " + joinPath(it->first), errno);
        }
        return {};
    }

private:
    Result<void> makeFolder(const PathComponents& path) {
        auto parent = entries_.open(path, path.size() - 1);
        if (!parent) return fail_with(parent.error());
        if (::mkdirat(*parent, path.back().c_str(), S_IRWXU) != 0)
            return failure("cannot create " + joinPath(path), errno);
        return {};
    }

    MappedImage image_;
    mode_t kept_;
    FolderCursor entries_;
    FolderCursor targets_;
    std::map<PathComponents, FinalState> folders_;
    base::UniqueFd file_;
    FinalState fileState_;
    std::string where_;
    std::optional<ContentWriter> content_;
};

}  // namespace

Result<void> extractEntries(struct archive* reader, const std::filesystem::path& root, const ExtractionLimits& limits,
                            const std::string& reservedName, const MappedImage* image, bool readOnly) {
    auto rootFd = base::openFolderAtPath(root.string(), openingWords);
    if (!rootFd) return fail_with(rootFd.error());
    DiskWriter writer(rootFd->get(), image != nullptr ? *image : MappedImage{}, readOnly);
    auto read = readEntries(reader, limits, reservedName, &writer);
    if (!read) return read;
    return writer.finish();
}

}  // namespace orbitreel::standins
