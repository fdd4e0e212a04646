#include "install/install.h"

#include <string>

#include "core/cache_paths.h"
#include "core/texts.h"
#include "install/command.h"
#include "install/hidden_names.h"
#include "install/leftovers.h"
#include "platform/platform.h"

namespace orbitreel {

namespace {

Failure versionMismatch() { return fail_with(InstallError{texts::VersionMismatch}); }

// Where the new copy goes: the home Applications folder, unless a copy
// already lies in the system folder, which is then replaced in place — but
// only when the user may replace it, since we never ask for administrator
// rights.
Result<Path> destinationFolder(const Platform& platform, const Path& home) {
    Files& files = *platform.files;
    const Path systemCopy = platform.locations.systemApplications / ApplicationFolderName;
    if (!files.exists(systemCopy)) return home / "Applications";
    const Path systemFolder = systemCopy.parent_path();
    if (!files.isWritable(systemCopy) || !files.isWritable(systemFolder)) {
        return fail_with(InstallError{texts::NeedsAdmin});
    }
    return systemFolder;
}

// For a file system that cannot exchange: the previous copy steps aside to
// the backup name and comes back if the staging copy cannot take its place.
Result<void> replaceByRenames(Files& files, const Path& staging, const Path& target, const Path& backup) {
    if (auto aside = files.move(target, backup); !aside) return fail_with(aside.error());
    if (auto swapped = files.move(staging, target); !swapped) {
        // The user sees why the swap failed, not whether the restore worked too.
        ignore(files.move(backup, target));
        return fail_with(swapped.error());
    }
    ignore(files.trash(backup));
    return {};
}

// The checked staging copy takes the target's place. With a previous copy
// the two are exchanged in one step, so that an application lies at the
// target at every moment, also for a run killed half-way.
Result<void> putInPlace(Files& files, const Path& staging, const Path& target, const Path& backup) {
    if (!files.exists(target)) return files.move(staging, target);
    auto exchanged = files.exchange(staging, target);
    if (!exchanged) return fail_with(exchanged.error());
    if (*exchanged == Files::Exchange::unsupported) return replaceByRenames(files, staging, target, backup);
    // Should the rename to the backup name fail, the previous copy goes to
    // the Trash from where it lies, or stays there; either way the staging
    // clean-up must not take it for the new copy.
    const Path previous = files.move(staging, backup) ? backup : staging;
    ignore(files.trash(previous));
    return {};
}

// Copies, checks and swaps the application in. When this fails, the staging
// name holds the new copy or nothing; after a success, nothing, or the
// previous copy when it could be neither renamed nor trashed.
Result<ItemIdentity> swapIn(const Platform& platform, const Path& source, const Path& staging, const Path& target,
                    const Path& backup) {
    const auto& tools = platform.locations;
    Files& files = *platform.files;
    if (auto copied = command(platform, tools.ditto, {source.string(), staging.string()}); !copied) {
        return fail_with(copied.error());
    }
    // Others who may write the folder may rename its entries: what goes in
    // place must be the very copy that passed the check.
    auto copy = files.holdOwnFolder(staging);
    if (!copy) return fail_with(copy.error());
    if (auto checked = command(platform, tools.codesign, {"--verify", "--deep", "--strict", staging.string()});
        !checked) {
        return fail_with(checked.error());
    }
    if (auto same = (*copy)->isStillAt(staging); !same) return fail_with(same.error());
    if (auto placed = putInPlace(files, staging, target, backup); !placed) return fail_with(placed.error());
    return (*copy)->identity();
}

// Everything that needs the image mounted; the caller detaches it afterwards.
Result<InstalledApplication> installFromMountedImage(const Platform& platform, const Release& release, const Path& home,
                                     const Path& mountPoint) {
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

    auto folder = destinationFolder(platform, home);
    if (!folder) return fail_with(folder.error());
    if (auto created = files.createDirectories(*folder); !created) return fail_with(created.error());

    // Staging copy and backup lie in the destination folder itself, so the
    // exchange and every rename of the swap stay within one folder.
    const Path target = *folder / ApplicationFolderName;
    const Path staging = *folder / hiddenName(StagingPrefix, platform.environment->newUuid(), BundleSuffix);
    const Path backup = *folder / hiddenName(BackupPrefix, platform.environment->newUuid(), BundleSuffix);

    auto swapped = swapIn(platform, source, staging, target, backup);
    if (!swapped) {
        // Only after a failure: then the staging name holds our copy or
        // nothing, while after a success it may hold the person's old one.
        ignore(files.remove(staging));
        return fail_with(swapped.error());
    }
    return InstalledApplication{target, *swapped};
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
