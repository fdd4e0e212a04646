#include "tests/support/bundle_in_folder.h"

#include <filesystem>

#include "platform/linux/linux_bundles.h"

namespace orbitreel::test_support {

BundleInFolder::BundleInFolder(Path bundle) : bundle_(std::move(bundle)), real_(makeLinuxBundles()) {}

std::optional<Path> BundleInFolder::mainBundleResource(const std::string& name, const std::string& extension) {
    Path file = bundle_ / "Contents/Resources" / (name + "." + extension);
    if (!std::filesystem::is_regular_file(file)) return std::nullopt;
    return file;
}

}  // namespace orbitreel::test_support
