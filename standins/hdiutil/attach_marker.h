#pragma once
// The note that attach leaves at the top of a mount point, so that detach
// deletes only what attach made: it names the mount point's folder by device
// and inode (a note copied elsewhere does not match) and keeps the folder's
// own mode, given back on detach.

#include <sys/types.h>

#include <string>

#include "standins/common/failure.h"

namespace orbitreel::standins {

inline constexpr const char* AttachMarkerName = ".orbitreel-hdiutil-attach";

struct AttachMarker {
    dev_t device = 0;
    ino_t inode = 0;
    mode_t folderMode = 0;
    std::string image;
};

Result<void> writeAttachMarker(int mountFd, const AttachMarker& marker);

// Fails when the folder holds no marker, or one that is not ours.
Result<AttachMarker> readAttachMarker(int mountFd);

}  // namespace orbitreel::standins
