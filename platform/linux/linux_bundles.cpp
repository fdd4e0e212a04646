// Bundles on Linux: the same layout as on the Mac. The main bundle is found
// from /proc/self/exe, so a copy of the bundle anywhere finds its resources.

#include "platform/linux/linux_bundles.h"

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "base/unique_fd.h"
#include "platform/linux/info_plist.h"
#include "platform/linux/item_identity.h"

namespace orbitreel {

namespace {

bool isBundleLayout(const Path& executable) {
    Path macos = executable.parent_path();
    return macos.filename() == "MacOS" && macos.parent_path().filename() == "Contents";
}

class LinuxBundles : public Bundles {
public:
    Path mainBundlePath() override {
        std::error_code ec;
        Path executable = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec) return std::filesystem::current_path(ec);
        return bundleOfExecutable(executable);
    }

    std::optional<Path> mainBundleResource(const std::string& name, const std::string& extension) override {
        std::error_code ec;
        Path executable = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec) return std::nullopt;
        Path bundle = bundleOfExecutable(executable);
        Path resources = isBundleLayout(executable) ? bundle / "Contents/Resources" : bundle;
        Path candidate = resources / (name + "." + extension);
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) return std::nullopt;
        return candidate;
    }

    std::optional<BundleInfo> bundleAt(const Path& location) override {
        std::error_code ec;
        if (!std::filesystem::is_directory(location, ec)) return std::nullopt;
        return readInfoPlist(location / "Contents/Info.plist");
    }

    std::optional<BundleFolder> bundleFolderAt(const Path& location) override {
        const base::UniqueFd folder(::open(location.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!folder) return std::nullopt;
        auto identity = identityOf(folder.get(), location);
        auto info = readInfoPlistOf(folder.get());
        if (!identity || !info) return std::nullopt;
        return BundleFolder{*identity, *info};
    }
};

}  // namespace

Path bundleOfExecutable(const Path& executable) {
    if (isBundleLayout(executable)) return executable.parent_path().parent_path().parent_path();
    return executable.parent_path();
}

std::unique_ptr<Bundles> makeLinuxBundles() { return std::make_unique<LinuxBundles>(); }

}  // namespace orbitreel
