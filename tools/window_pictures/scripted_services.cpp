#include "tools/window_pictures/scripted_services.h"

#include <filesystem>

namespace orbitreel::pictures {

FolderBundle::FolderBundle(Path bundle) : bundle_(std::move(bundle)) {}

std::optional<Path> FolderBundle::mainBundleResource(const std::string& name, const std::string& extension) {
    Path file = bundle_ / "Contents/Resources" / (name + "." + extension);
    if (!std::filesystem::is_regular_file(file)) return std::nullopt;
    return file;
}

FolderEnvironment::FolderEnvironment(Path home, std::unique_ptr<Environment> real)
    : home_(std::move(home)), real_(std::move(real)) {}

}  // namespace orbitreel::pictures
