#include "stage/bundle_check.h"

#include <chrono>
#include <regex>

#include "stage/child_process.h"
#include "stage/home_view.h"

namespace orbitreel::stage {

namespace fs = std::filesystem;

std::string bundleProblem(const fs::path& app, const std::string& version) {
    if (!fs::is_directory(app)) return app.string() + " is missing";
    ProgramLaunch check;
    check.program = fs::path(ORBITREEL_STAGE_HELPERS) / "codesign";
    check.arguments = {"--verify", "--deep", "--strict", app.string()};
    ChildProcess codesign(check);
    auto status = codesign.waitFor(std::chrono::minutes(5));
    if (!status || *status != 0) return app.string() + " fails the signature check";
    const std::string plist = readWholeFile(app / "Contents/Info.plist");
    static const std::regex versionKey("<key>CFBundleShortVersionString</key>\\s*<string>([^<]*)</string>");
    std::smatch match;
    if (!std::regex_search(plist, match, versionKey) || match[1] != version)
        return app.string() + " is not version " + version;
    return {};
}

}  // namespace orbitreel::stage
