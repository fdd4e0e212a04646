#pragma once
// A temporary folder that disappears with the test, and an Environment whose
// home and temporary folders live inside it.

#include <memory>
#include <string>

#include "platform/environment.h"
#include "platform/platform.h"

namespace orbitreel::test_support {

class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const Path& path() const { return path_; }

private:
    Path path_;
};

// The real clock and UUIDs, with the home and temporary folders of a test.
class HomeEnvironment : public Environment {
public:
    HomeEnvironment(Path home, Path temporary);
    Path homeDirectory() override { return home_; }
    Path temporaryDirectory() override { return temporary_; }
    std::string newUuid() override;
    std::string nowIso8601() override;

private:
    Path home_;
    Path temporary_;
    std::unique_ptr<Environment> real_;
};

// Writes a text file, creating its folder.
void writeText(const Path& file, const std::string& text);
std::string readText(const Path& file);

}  // namespace orbitreel::test_support
