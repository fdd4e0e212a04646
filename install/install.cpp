#include "install/install.h"

#include <optional>
#include <string>

#include "core/cache_paths.h"
#include "core/texts.h"
#include "install/command.h"
#include "install/hidden_names.h"
#include "install/leftovers.h"
#include "install/run_record.h"
#include "platform/platform.h"

namespace orbitreel {

namespace {

Failure versionMismatch() { return fail_with(InstallError{texts::VersionMismatch}); }

// Where the new copy goes, and the copy it replaces: the home Applications
// folder, unless Orbitreel already lies in the system folder, which is then
// replaced in place — but only when the user may replace it, since we never
// ask for administrator rights. Only a real copy counts there: a folder, not
// a link, whose Info.plist, read through that folder, names Orbitreel.
// Anything else at that name belongs to whoever put it there.
struct Destination {
    Path folder;
    std::optional<ItemIdentity> previous;
};

Result<Destination> destinationFor(const Platform& platform, const Path& home) {
    Files& files = *platform.files;
    const Path systemCopy = platform.locations.systemApplications / ApplicationFolderName;
    auto system = platform.bundles->bundleFolderAt(systemCopy);
    if (system && system->info.identifier == TargetBundleId) {
        const Path systemFolder = systemCopy.parent_path();
        if (!files.isWritable(systemCopy) || !files.isWritable(systemFolder)) {
            return fail_with(InstallError{texts::NeedsAdmin});
        }
        return Destination{systemFolder, system->identity};
    }
    const Path folder = home / "Applications";
    if (auto created = files.createDirectories(folder); !created) return fail_with(created.error());
    std::optional<ItemIdentity> previous;
    if (files.exists(folder / ApplicationFolderName)) {
        auto identity = files.identityAt(folder / ApplicationFolderName);
        if (!identity) return fail_with(identity.error());
        previous = *identity;
    }
    return Destination{folder, previous};
}

// For a file system that cannot exchange: the previous copy steps into the
// private folder, then the new copy out to the target. Whatever fails half
// way is put right when the run is settled.
Result<void> replaceByRenames(PrivateFolder& folder, const Path& target, const ItemIdentity& previous) {
    static const std::string previousName = "Previous.app";
    if (auto aside = folder.moveIn(target, previousName); !aside) return aside;
    auto came = folder.identityOf(previousName);
    if (!came || *came != previous) {
        ignore(folder.moveOut(previousName, target));
        return fail_with(PlatformError{"files", 1, texts::folderReplaced(target.string())});
    }
    return folder.moveOut(std::string(ApplicationFolderName), target);
}

// The checked copy takes the target's place. With a previous copy the two
// are exchanged in one step, so that an application lies at the target at
// every moment, also for a run killed half-way; what comes out must be the
// copy that was chosen, or it goes back.
Result<void> putInPlace(PrivateFolder& folder, const Path& target, const std::optional<ItemIdentity>& previous) {
    const std::string copy(ApplicationFolderName);
    if (!previous) return folder.moveOut(copy, target);
    auto exchanged = folder.exchangeWith(copy, target);
    if (!exchanged) return fail_with(exchanged.error());
    if (*exchanged == Files::Exchange::unsupported) return replaceByRenames(folder, target, *previous);
    auto came = folder.identityOf(copy);
    if (!came || *came != *previous) {
        ignore(folder.exchangeWith(copy, target));
        return fail_with(PlatformError{"files", 1, texts::folderReplaced(target.string())});
    }
    return {};
}

// Fills the private folder's copy, checks it and swaps it in. The tools
// reach the copy through the held folder, so they fill and check the very
// copy that goes in place, whatever others rename meanwhile.
Result<void> copyCheckAndSwap(const Platform& platform, const Path& source, PrivateFolder& folder,
                              const Path& target, const std::optional<ItemIdentity>& previous) {
    const auto& tools = platform.locations;
    const Path copy = folder.pathInside(std::string(ApplicationFolderName));
    if (auto copied = command(platform, tools.ditto, {source.string(), copy.string()}); !copied) {
        return fail_with(copied.error());
    }
    if (auto checked = command(platform, tools.codesign, {"--verify", "--deep", "--strict", copy.string()});
        !checked) {
        return fail_with(checked.error());
    }
    // On disk before anyone can see it, so a power cut never leaves a copy
    // of empty files in place.
    if (auto flushed = folder.flush(); !flushed) return flushed;
    return putInPlace(folder, target, previous);
}

// Everything that needs the image mounted; the caller detaches it afterwards.
Result<InstalledApplication> installFromMountedImage(const Platform& platform, const Release& release,
                                                     const Path& home, const Path& mountPoint) {
    Files& files = *platform.files;
    const auto& tools = platform.locations;
    const Path source = mountPoint / ApplicationFolderName;

    // Identity before signature: an image of another release is a version
    // problem, whatever its signature says.
    auto bundle = platform.bundles->bundleAt(source);
    if (!bundle) return versionMismatch();
    if (!bundle->identifier || *bundle->identifier != TargetBundleId) return versionMismatch();
    auto version = bundle->string("CFBundleShortVersionString");
    if (!version || *version != release.version) return versionMismatch();

    if (auto signedOk = command(platform, tools.codesign, {"--verify", "--deep", "--strict", source.string()});
        !signedOk) {
        return fail_with(signedOk.error());
    }

    if (platform.runningApplications->countWithBundleIdentifier(TargetBundleId) > 0) {
        return fail_with(InstallError{texts::AppRunning});
    }

    auto destination = destinationFor(platform, home);
    if (!destination) return fail_with(destination.error());

    // The copy is made in a private folder in the destination folder
    // itself, so the swap stays within one file system. Both folders are
    // recorded before any tool writes there.
    RunRecord record;
    record.uuid = platform.environment->newUuid();
    record.destination = destination->folder;
    record.previous = destination->previous;
    auto folder = files.makePrivateFolder(destination->folder / hiddenName(StagingPrefix, record.uuid));
    if (!folder) return fail_with(folder.error());
    record.folder = (*folder)->identity();
    const Path recordPath = recordFile(home, record.uuid);
    auto staging = (*folder)->makeFolder(std::string(ApplicationFolderName));
    if (staging) {
        record.staging = *staging;
        if (auto written = files.writePrivately(recordPath, asBytes(formatRecord(record))); !written)
            staging = fail_with(written.error());
    }
    if (!staging) {
        ignore((*folder)->removeInside(std::string(ApplicationFolderName)));
        ignore((*folder)->removeFrom(destination->folder));
        return fail_with(staging.error());
    }

    const Path target = destination->folder / ApplicationFolderName;
    auto swapped = copyCheckAndSwap(platform, source, **folder, target, destination->previous);
    settleRun(platform, **folder, record, recordPath);
    if (!swapped) return fail_with(swapped.error());
    return InstalledApplication{target, record.staging};
}

}  // namespace

Result<InstalledApplication> install(const Platform& platform, const Release& release, Leftovers leftovers) {
    Files& files = *platform.files;
    const auto& tools = platform.locations;
    const Path home = platform.environment->homeDirectory();
    const Path image = cachedImage(home, release.version);
    const Path versionFolder = versionDirectory(home, release.version);

    // Before anything else: a backup put back at the system folder's target
    // changes which folder the install goes to.
    if (leftovers == Leftovers::recover) recoverLeftovers(platform, home, versionFolder);

    const Path mountPoint = versionFolder / hiddenName(MountPrefix, platform.environment->newUuid());

    if (auto created = files.createDirectories(mountPoint); !created) return fail_with(created.error());
    if (auto verified = command(platform, tools.hdiutil, {"verify", image.string()}); !verified) {
        return fail_with(verified.error());
    }
    if (auto attached =
            command(platform, tools.hdiutil,
                    {"attach", image.string(), "-readonly", "-nobrowse", "-mountpoint", mountPoint.string()});
        !attached) {
        return fail_with(attached.error());
    }

    auto installed = installFromMountedImage(platform, release, home, mountPoint);

    // Detach whatever happened above. A failed detach leaves the mount point
    // (and the image on it) in place and does not change the result.
    if (command(platform, tools.hdiutil, {"detach", mountPoint.string()})) ignore(files.remove(mountPoint));
    return installed;
}

}  // namespace orbitreel
