#include "standins/hdiutil/image_mount.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/folder_entries.h"
#include "base/tree_removal.h"
#include "standins/common/tree_rules.h"
#include "standins/hdiutil/attach_marker.h"
#include "standins/hdiutil/safe_extraction.h"
#include "standins/hdiutil/sealed_image_reader.h"

namespace orbitreel::standins {

namespace {

// Empties the mount point, the marker last so that a detach that fails
// half-way can be run again, and gives the folder its mode back.
Result<void> emptyMountPoint(int mountFd, mode_t folderMode, const std::filesystem::path& mountPoint) {
    if (::fchmod(mountFd, folderMode | S_IRWXU) != 0) return failure("cannot unlock the mount point", errno);
    auto removed = base::removeContents(mountFd, AttachMarkerName, mountPoint.string(), RemovingTree);
    if (!removed) return removed;
    if (::unlinkat(mountFd, AttachMarkerName, 0) != 0 && errno != ENOENT)
        return failure("cannot remove the mount point's marker", errno);
    if (::fchmod(mountFd, folderMode) != 0) return failure("cannot restore the mount point", errno);
    return {};
}

// Read-only, as on a mounted read-only volume: without a mount, having no
// write bits is what keeps the content from changing by accident. The
// extraction sets every mode on its entry's descriptor, already without them.
Result<void> fill(SealedImageReader& reader, const std::filesystem::path& mountPoint, int mountFd, mode_t folderMode,
                  const ExtractionLimits& limits) {
    auto extracted = extractEntries(reader.archive(), mountPoint, limits, AttachMarkerName, &reader.mapped(), true);
    if (!extracted) return extracted;
    if (::fchmod(mountFd, (folderMode | S_IRWXU) & ~(S_IWUSR | S_IWGRP | S_IWOTH)) != 0)
        return failure("cannot make the mount point read-only", errno);
    return {};
}

}  // namespace

Result<void> attachImage(const std::filesystem::path& image, const std::filesystem::path& mountPoint,
                         const ExtractionLimits& limits) {
    auto mountFd = base::openFolderAtPath(mountPoint.string(), openingWords);
    if (!mountFd) return failure("mount point is no folder: " + mountFd.error().localizedDescription());
    struct stat st {};
    if (::fstat(mountFd->get(), &st) != 0) return failure("cannot inspect the mount point", errno);
    auto names = base::sortedNames(mountFd->get(), mountPoint.string(), readingWords);
    if (!names) return fail_with(names.error());
    if (!names->empty()) return failure("mount point is not empty: " + mountPoint.string());

    // Nothing is written before the image is known to be a sealed volume of
    // its full length. The seal's digest is verify's: the installer verifies
    // first, and hashing the image again here would double attach's time.
    auto reader = SealedImageReader::open(image);
    if (!reader) return fail_with(reader.error());

    const mode_t folderMode = st.st_mode & 07777;
    if (::fchmod(mountFd->get(), folderMode | S_IRWXU) != 0) return failure("cannot write into the mount point", errno);
    AttachMarker marker{st.st_dev, st.st_ino, folderMode, std::filesystem::absolute(image).string()};
    auto filled = writeAttachMarker(mountFd->get(), marker);
    if (filled) filled = fill(**reader, mountPoint, mountFd->get(), folderMode, limits);
    if (!filled) {
        auto emptied = emptyMountPoint(mountFd->get(), folderMode, mountPoint);
        if (!emptied)
            return failure(filled.error().localizedDescription() +
                           "; and cleaning up failed: " + emptied.error().localizedDescription());
    }
    return filled;
}

Result<void> detachImage(const std::filesystem::path& mountPoint) {
    auto mountFd = base::openFolderAtPath(mountPoint.string(), openingWords);
    if (!mountFd) return failure("mount point is no folder: " + mountFd.error().localizedDescription());
    auto marker = readAttachMarker(mountFd->get());
    if (!marker) return failure(marker.error().localizedDescription() + ": " + mountPoint.string());
    struct stat st {};
    if (::fstat(mountFd->get(), &st) != 0) return failure("cannot inspect the mount point", errno);
    if (st.st_dev != marker->device || st.st_ino != marker->inode)
        return failure("the marker in " + mountPoint.string() + " was made for another folder");
    return emptyMountPoint(mountFd->get(), marker->folderMode, mountPoint);
}

}  // namespace orbitreel::standins
