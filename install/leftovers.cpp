#include "install/leftovers.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "core/identity.h"
#include "install/command.h"
#include "install/hidden_names.h"
#include "platform/platform.h"

namespace orbitreel {

namespace {

// Newest means the latest change time: every backup got its name by a
// rename, which sets it. Equal times go by name, so the choice is stable.
std::vector<Path>::iterator newestBackup(Files& files, std::vector<Path>& backups) {
    using Time = std::chrono::system_clock::time_point;
    auto key = [&files](const Path& backup) {
        return std::make_tuple(files.changeTime(backup).value_or(Time::min()), backup.filename().string());
    };
    return std::max_element(backups.begin(), backups.end(),
                            [&key](const Path& a, const Path& b) { return key(a) < key(b); });
}

// Staging copies are unchecked or half-made, so they go. Backups are copies
// the person had: when the target is empty the newest one returns there, and
// the others go to the Trash as after a successful swap. Only the person's
// own folders count: in a folder shared with others, items of these shapes
// may be anyone's, or links planted to lead elsewhere.
void recoverDestination(Files& files, const Path& folder) {
    auto names = files.listFolder(folder);
    if (!names) {
        ignore(names);  // no such folder yet: nothing was left in it
        return;
    }
    std::vector<Path> backups;
    for (const auto& name : *names) {
        const Path item = folder / name;
        const bool staging = isHiddenName(name, StagingPrefix, BundleSuffix);
        const bool backup = isHiddenName(name, BackupPrefix, BundleSuffix);
        if ((!staging && !backup) || !files.isOwnFolder(item)) continue;
        if (staging) {
            ignore(files.remove(item));
        } else {
            backups.push_back(item);
        }
    }
    const Path target = folder / ApplicationFolderName;
    if (!backups.empty() && !files.exists(target)) {
        auto newest = newestBackup(files, backups);
        const Path restored = *newest;
        backups.erase(newest);
        // Should the rename fail, the copy stays under its hidden name for
        // the next run rather than going to the Trash.
        ignore(files.move(restored, target));
    }
    for (const auto& backup : backups) ignore(files.trash(backup));
}

// A mount folder that holds anything still has an image, or part of one,
// attached; its run is gone. Detach it, and remove the folder only when that
// worked. Empty ones stay, as a failed verify or attach leaves them.
void recoverMountPoints(const Platform& platform, const Path& versionDirectory) {
    Files& files = *platform.files;
    auto names = files.listFolder(versionDirectory);
    if (!names) {
        ignore(names);
        return;
    }
    for (const auto& name : *names) {
        const Path mountPoint = versionDirectory / name;
        if (!isHiddenName(name, MountPrefix) || !files.isOwnFolder(mountPoint)) continue;
        // A folder that cannot be listed is left alone, like an empty one.
        auto inside = files.listFolder(mountPoint);
        if (!inside || inside->empty()) continue;
        // A failed detach is dropped: folder and image stay for the next run.
        if (command(platform, platform.locations.hdiutil, {"detach", mountPoint.string()}))
            ignore(files.remove(mountPoint));
    }
}

}  // namespace

void recoverLeftovers(const Platform& platform, const Path& home, const Path& versionDirectory) {
    Files& files = *platform.files;
    recoverDestination(files, home / "Applications");
    recoverDestination(files, platform.locations.systemApplications);
    recoverMountPoints(platform, versionDirectory);
}

}  // namespace orbitreel
