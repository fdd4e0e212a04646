#include "standins/hdiutil/attach_marker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <sstream>

#include "base/unique_fd.h"

namespace orbitreel::standins {

namespace {

constexpr std::string_view Magic = "orbitreel-hdiutil-attach 1\n";
constexpr std::size_t MaxMarkerBytes = 8192;

}  // namespace

Result<void> writeAttachMarker(int mountFd, const AttachMarker& marker) {
    std::ostringstream text;
    text << Magic << "folder " << static_cast<std::uintmax_t>(marker.device) << ' '
         << static_cast<std::uintmax_t>(marker.inode) << ' ' << std::oct << (marker.folderMode & 07777) << std::dec
         << "\nimage " << marker.image << '\n';
    const std::string content = text.str();
    base::UniqueFd fd(::openat(mountFd, AttachMarkerName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0444));
    if (!fd) return failure("cannot mark the mount point", errno);
    if (::write(fd.get(), content.data(), content.size()) != static_cast<ssize_t>(content.size()))
        return failure("cannot mark the mount point", errno);
    return {};
}

Result<AttachMarker> readAttachMarker(int mountFd) {
    base::UniqueFd fd(::openat(mountFd, AttachMarkerName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return failure("no image attached here");
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > static_cast<off_t>(MaxMarkerBytes))
        return failure("no image attached here");
    std::string content(static_cast<std::size_t>(st.st_size), '\0');
    if (::read(fd.get(), content.data(), content.size()) != static_cast<ssize_t>(content.size()))
        return failure("cannot read the mount point's marker", errno);

    if (!std::string_view(content).starts_with(Magic)) return failure("no image attached here");
    std::uintmax_t device = 0, inode = 0;
    unsigned mode = 0;
    int used = 0;
    const char* rest = content.c_str() + Magic.size();
    if (std::sscanf(rest, "folder %ju %ju %o\nimage %n", &device, &inode, &mode, &used) != 3 || used == 0)
        return failure("the mount point's marker is malformed");
    AttachMarker marker;
    marker.device = static_cast<dev_t>(device);
    marker.inode = static_cast<ino_t>(inode);
    marker.folderMode = static_cast<mode_t>(mode & 07777);
    marker.image = std::string(rest + used);
    if (!marker.image.empty() && marker.image.back() == '\n') marker.image.pop_back();
    return marker;
}

}  // namespace orbitreel::standins
