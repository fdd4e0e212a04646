#pragma once
// Whether an installed Orbitreel.app is whole: the build's signature check
// passes on it and it carries the expected version.

#include <filesystem>
#include <string>

namespace orbitreel::stage {

// Empty when whole; otherwise what is wrong.
std::string bundleProblem(const std::filesystem::path& app, const std::string& version);

}  // namespace orbitreel::stage
