#pragma once
// The install transaction's test bed: a temporary home (its path holds a
// blank), a system Applications folder of its own, the real Linux services
// with a recording tool runner and fault-injecting files, and signed demo
// images built with the release tool and the stand-ins.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/release.h"
#include "platform/platform.h"
#include "tests/support/faulty_files.h"
#include "tests/support/recording_processes.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/test_platform.h"
#include "tests/support/text_files.h"

namespace orbitreel::test_support {

// Signed demo releases from the release tool, made once per test program.
class DemoImages {
public:
    static DemoImages& shared();
    const std::string& version() const { return version_; }
    // The image of a signed Orbitreel.app of version().
    const Path& image() const { return image_; }
    // The signed application that image holds.
    const Path& signedApp() const { return signedApp_; }
    // Another release, made with these options of the release tool.
    Path variant(const std::string& name, const std::vector<std::string>& options);

private:
    DemoImages();
    Path release(const std::string& name, const std::vector<std::string>& options);
    TemporaryFolder folder_;
    std::string version_;
    Path image_;
    Path signedApp_;
};

// Runs a stand-in or a helper program to its end; true when it exited with 0.
bool runTool(const Path& tool, const std::vector<std::string>& arguments);

// The names in a folder, sorted; none when it does not exist.
std::vector<std::string> entries(const Path& folder);
// Every item below a folder with its file content ("/" for folders, "->
// target" for links), for checks that nothing changed.
std::map<std::string, std::string> snapshot(const Path& folder);
bool isUuid(const std::string& text);
// Ends every process whose executable lies below `folder` and waits until
// none is left.
void stopProcessesRunningFrom(const Path& folder);
// An older installed copy that carries `marker` in Contents/Resources/marker.
void writePreviousCopy(const Path& bundle, const std::string& marker);
std::string markerOf(const Path& bundle);

class InstallTest : public ::testing::Test {
protected:
    InstallTest();
    ~InstallTest() override;

    Path home() const { return home_; }
    Path systemFolder() const { return systemFolder_; }
    Path homeApplications() const { return home_ / "Applications"; }
    Path versionDirectory() const;
    Path cachedImage() const;
    Path trashFiles() const { return home_ / ".local/share/Trash/files"; }
    std::vector<std::string> mountFolders() const;

    // Puts `image` into the cache for `release`.
    void cacheImage(const Path& image);
    Result<Path> runInstall() { return install(platform, release); }
    Result<Path> install(const Platform& on, const Release& what);

    TemporaryFolder root_;
    Path home_;
    Path systemFolder_;
    Release release;

    TestPlatform services_;

public:
    FaultyFiles files{services_.realFiles()};
    RecordingProcesses processes{services_.realProcesses()};
    Platform platform;

private:
    std::map<std::string, std::optional<std::string>> savedEnvironment_;
};

}  // namespace orbitreel::test_support
