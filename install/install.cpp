#include "install/install.h"

#include <string>

#include "download/cache_paths.h"
#include "install/command.h"
#include "platform/platform.h"

namespace orbitreel {

namespace {

Failure versionMismatch() { return fail_with(InstallError::make(VersionMismatchMessage)); }

// Where the new copy goes: the home Applications folder, unless a copy
// already lies in the system folder, which is then replaced in place — but
// only when the user may replace it, since we never ask for administrator
// rights.
Result<Path> destinationFolder(const Platform& platform, const Path& home) {
    Files& files = *platform.files;
    const Path systemCopy = platform.locations.systemApplications / "Orbitreel.app";
    if (!files.exists(systemCopy)) return home / "Applications";
    const Path systemFolder = systemCopy.parent_path();
    if (!files.isWritable(systemCopy) || !files.isWritable(systemFolder)) {
        return fail_with(InstallError::make(NeedsAdminMessage));
    }
    return systemFolder;
}

// Copies, checks and swaps the application in; the staging copy is removed
// by the caller whatever happens here.
Result<void> swapIn(const Platform& platform, const Path& source, const Path& staging, const Path& target,
                    const Path& backup) {
    Files& files = *platform.files;
    const auto& tools = platform.locations;

    if (auto copied = command(platform, tools.ditto, {source.string(), staging.string()}); !copied) {
        return fail_with(copied.error());
    }
    if (auto checked = command(platform, tools.codesign, {"--verify", "--deep", "--strict", staging.string()});
        !checked) {
        return fail_with(checked.error());
    }

    if (files.exists(target)) {
        if (auto aside = files.move(target, backup); !aside) return fail_with(aside.error());
    }
    if (auto swapped = files.move(staging, target); !swapped) {
        // Put the previous copy back; the user sees why the swap failed, not
        // whether the restore worked too.
        if (files.exists(backup)) ignore(files.move(backup, target));
        return fail_with(swapped.error());
    }
    if (files.exists(backup)) ignore(files.trash(backup));
    return {};
}

// Everything that needs the image mounted; the caller detaches it afterwards.
Result<Path> installFromMountedImage(const Platform& platform, const Release& release, const Path& home,
                                     const Path& mountPoint) {
    Files& files = *platform.files;
    const auto& tools = platform.locations;
    const Path source = mountPoint / "Orbitreel.app";

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
        return fail_with(InstallError::make(AppRunningMessage));
    }

    auto folder = destinationFolder(platform, home);
    if (!folder) return fail_with(folder.error());
    if (auto created = files.createDirectories(*folder); !created) return fail_with(created.error());

    // Staging copy and backup lie in the destination folder itself, so both
    // moves of the swap are renames within one folder.
    const Path target = *folder / "Orbitreel.app";
    const Path staging = *folder / (".Orbitreel-install-" + platform.environment->newUuid() + ".app");
    const Path backup = *folder / (".Orbitreel-backup-" + platform.environment->newUuid() + ".app");

    auto swapped = swapIn(platform, source, staging, target, backup);
    // After a successful swap nothing is left here; the failed removal is dropped.
    ignore(files.remove(staging));
    if (!swapped) return fail_with(swapped.error());
    return target;
}

}  // namespace

Result<Path> install(const Platform& platform, const Release& release) {
    Files& files = *platform.files;
    const auto& tools = platform.locations;
    const Path home = platform.environment->homeDirectory();
    const Path image = cachedImage(home, release.version);
    const Path mountPoint = versionDirectory(home, release.version) / ("mount-" + platform.environment->newUuid());

    if (auto created = files.createDirectories(mountPoint); !created) return fail_with(created.error());
    if (auto verified = command(platform, tools.hdiutil, {"verify", image.string()}); !verified) {
        return fail_with(verified.error());
    }
    if (auto attached = command(platform, tools.hdiutil,
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
