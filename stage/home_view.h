#pragma once
// What the installer leaves in a user's home, read the way a person would
// look: the installer's log, the cache, the Applications folder, the Trash,
// the installed application's own log; and the Orbitreel processes running.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orbitreel::stage {

// The release a manifest describes.
struct ReleaseInfo {
    std::string version;
    std::string url;
    std::string sha256;
    std::int64_t bytes = 0;
};
ReleaseInfo readRelease(const std::filesystem::path& manifest);

class HomeView {
public:
    HomeView(std::filesystem::path home, std::string version);

    const std::filesystem::path& home() const { return home_; }
    std::filesystem::path installerLog() const;
    // The log's entries without their time stamps; an entry whose text has
    // line breaks is one entry.
    std::vector<std::string> logEntries() const;
    std::vector<std::string> errorEntries() const;  // entries starting with "error "

    std::filesystem::path cacheFolder() const;
    std::filesystem::path cachedImage() const;
    std::filesystem::path resumeData() const;
    std::filesystem::path applications() const;
    std::filesystem::path installedApp() const;
    std::filesystem::path appLog() const;
    // Lines "Orbitreel VERSION started …" in the application's own log.
    int applicationStarts() const;
    // ".Orbitreel-install-…" and ".Orbitreel-backup-…" left in Applications.
    std::vector<std::filesystem::path> hiddenCopies() const;
    // Orbitreel copies in the freedesktop.org Trash, under either name: the
    // home's, and the one of the home's owner at the top of the system
    // Applications folder's volume.
    std::vector<std::filesystem::path> trashedApplications() const;

private:
    std::filesystem::path home_;
    std::string version_;
};

// Processes whose executable is an Orbitreel.app's, as this sandbox sees them.
std::vector<pid_t> orbitreelProcesses();
// Asks each to quit and waits until they are gone.
void stopOrbitreel();

std::string readWholeFile(const std::filesystem::path& file);

}  // namespace orbitreel::stage
