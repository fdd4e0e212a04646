#pragma once
// Releases other than the build's own: the same tool the build uses makes a
// signed image and its manifest, and a copy of the installer bundle carries
// that manifest, as a release of the installer would.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orbitreel::stage {

struct ReleaseRecipe {
    std::filesystem::path out;  // gets Orbitreel-Mac-VERSION.dmg and release.json
    std::string version = "1.4.2";
    std::uint64_t payloadBytes = 0;    // random content inside the application
    std::vector<std::string> options;  // further make_release.sh options (--tamper, …)
};

// Makes the release; the manifest's path. Throws with the tool's output.
std::filesystem::path makeRelease(const ReleaseRecipe& recipe);

// Copies the build's installer bundle to `folder`/OrbitreelInstaller.app with
// `manifest` as its release.json; the copy's path.
std::filesystem::path installerCarrying(const std::filesystem::path& manifest, const std::filesystem::path& folder);

}  // namespace orbitreel::stage
