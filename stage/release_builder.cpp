#include "stage/release_builder.h"

#include <chrono>
#include <stdexcept>

#include "stage/child_process.h"
#include "stage/home_view.h"

namespace orbitreel::stage {

namespace fs = std::filesystem;

fs::path makeRelease(const ReleaseRecipe& recipe) {
    fs::create_directories(recipe.out);
    ProgramLaunch launch;
    launch.program = "/bin/bash";
    launch.arguments = {ORBITREEL_STAGE_MAKE_RELEASE,
                        "--helpers",
                        ORBITREEL_STAGE_HELPERS,
                        "--app-binary",
                        ORBITREEL_STAGE_DEMO_APP,
                        "--icon",
                        ORBITREEL_STAGE_DEMO_ICON,
                        "--out",
                        recipe.out.string(),
                        "--version",
                        recipe.version};
    if (recipe.payloadBytes > 0) {
        launch.arguments.push_back("--payload-bytes");
        launch.arguments.push_back(std::to_string(recipe.payloadBytes));
    }
    launch.arguments.insert(launch.arguments.end(), recipe.options.begin(), recipe.options.end());
    launch.output = recipe.out / "make_release.txt";
    fs::remove(launch.output);
    ChildProcess tool(launch);
    auto status = tool.waitFor(std::chrono::minutes(10));
    if (!status || *status != 0) throw std::runtime_error("make_release.sh failed:\n" + readWholeFile(launch.output));
    return recipe.out / "release.json";
}

fs::path installerCarrying(const fs::path& manifest, const fs::path& folder) {
    const fs::path copy = folder / "OrbitreelInstaller.app";
    fs::remove_all(copy);
    fs::create_directories(folder);
    fs::copy(ORBITREEL_STAGE_BUNDLE, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::copy_file(manifest, copy / "Contents/Resources/release.json", fs::copy_options::overwrite_existing);
    return copy;
}

}  // namespace orbitreel::stage
