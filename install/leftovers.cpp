#include "install/leftovers.h"

#include <string>
#include <vector>

#include "core/cache_paths.h"
#include "core/identity.h"
#include "core/note.h"
#include "install/command.h"
#include "install/hidden_names.h"
#include "install/run_record.h"
#include "platform/platform.h"

namespace orbitreel {

namespace {

// Each recorded run's private folder, wherever it lies now in its
// destination folder, is settled as the run would have settled it. A record
// whose folder is gone has nothing left to act on.
void recoverRecordedRuns(const Platform& platform, const Path& home) {
    Files& files = *platform.files;
    const Path records = recordsDirectory(home);
    auto names = files.listFolder(records);
    if (!names) {
        ignore(names);  // no install has recorded anything yet
        return;
    }
    for (const auto& name : *names) {
        if (!name.ends_with(RecordSuffix)) continue;
        const Path recordPath = records / name;
        auto text = files.readAll(recordPath);
        if (!text) {
            ignore(text);
            continue;
        }
        auto record = parseRecord(std::string(text->begin(), text->end()));
        // A record cut short was being written when its run was killed,
        // before any tool wrote into its folder.
        if (!record || recordFile(home, record->uuid) != recordPath) {
            note(platform, "recovery: unreadable record left alone: " + name);
            continue;
        }
        auto folder = files.findPrivateFolder(record->destination, record->folder);
        if (folder && *folder) {
            settleRun(platform, **folder, *record, recordPath);
        } else {
            ignore(folder);
            ignore(files.remove(recordPath));
        }
    }
}

// Items of the installer's hidden shapes that no record names: an older
// installer's, which kept no record, or anyone's look-alikes. They stay
// where they are.
void noteUnrecorded(const Platform& platform, const std::vector<Path>& folders) {
    Files& files = *platform.files;
    std::string found;
    for (const auto& folder : folders) {
        auto names = files.listFolder(folder);
        if (!names) {
            ignore(names);
            continue;
        }
        for (const auto& name : *names) {
            if (isHiddenName(name, StagingPrefix) || isHiddenName(name, StagingPrefix, BundleSuffix) ||
                isHiddenName(name, BackupPrefix, BundleSuffix))
                found += " " + (folder / name).string();
        }
    }
    if (!found.empty()) note(platform, "recovery: left alone, no record of ours:" + found);
}

// A mount folder that holds anything still has an image, or part of one,
// attached; its run is gone. Detach it, and remove the folder only when that
// worked. Empty ones stay, as a failed verify or attach leaves them. The
// cache is the person's own, in their home.
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
    recoverRecordedRuns(platform, home);
    noteUnrecorded(platform, {home / "Applications", platform.locations.systemApplications});
    recoverMountPoints(platform, versionDirectory);
}

}  // namespace orbitreel
