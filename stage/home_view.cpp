#include "stage/home_view.h"

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace orbitreel::stage {

namespace fs = std::filesystem;

std::string readWholeFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

ReleaseInfo readRelease(const fs::path& manifest) {
    auto json = nlohmann::json::parse(readWholeFile(manifest));
    return ReleaseInfo{json.at("version").get<std::string>(), json.at("url").get<std::string>(),
                       json.at("sha256").get<std::string>(), json.at("bytes").get<std::int64_t>()};
}

HomeView::HomeView(fs::path home, std::string version) : home_(std::move(home)), version_(std::move(version)) {}

fs::path HomeView::installerLog() const { return home_ / "Library/Logs/OrbitreelInstaller.log"; }

std::vector<std::string> HomeView::logEntries() const {
    static const std::regex stamp(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d+)?Z (.*)$)");
    std::vector<std::string> entries;
    std::istringstream in(readWholeFile(installerLog()));
    std::string line;
    std::smatch match;
    while (std::getline(in, line)) {
        if (std::regex_match(line, match, stamp)) entries.push_back(match[2].str());
        else if (!entries.empty()) entries.back() += "\n" + line;
    }
    return entries;
}

std::vector<std::string> HomeView::errorEntries() const {
    std::vector<std::string> errors;
    for (auto& entry : logEntries())
        if (entry.rfind("error ", 0) == 0) errors.push_back(entry.substr(6));
    return errors;
}

fs::path HomeView::cacheFolder() const { return home_ / "Library/Caches/OrbitreelInstaller" / version_; }
fs::path HomeView::cachedImage() const { return cacheFolder() / "application.dmg"; }
fs::path HomeView::resumeData() const { return cacheFolder() / "resume.data"; }
fs::path HomeView::applications() const { return home_ / "Applications"; }
fs::path HomeView::installedApp() const { return applications() / "Orbitreel.app"; }
fs::path HomeView::appLog() const { return home_ / "Library/Logs/Orbitreel.log"; }

int HomeView::applicationStarts() const {
    std::istringstream in(readWholeFile(appLog()));
    std::string line;
    int starts = 0;
    const std::string mark = "Orbitreel " + version_ + " started";
    while (std::getline(in, line))
        if (line.find(mark) != std::string::npos) ++starts;
    return starts;
}

std::vector<fs::path> HomeView::hiddenCopies() const {
    std::vector<fs::path> found;
    std::error_code error;
    for (auto& entry : fs::directory_iterator(applications(), error)) {
        auto name = entry.path().filename().string();
        if (name.rfind(".Orbitreel-install-", 0) == 0 || name.rfind(".Orbitreel-backup-", 0) == 0)
            found.push_back(entry.path());
    }
    return found;
}

std::vector<fs::path> HomeView::trashedApplications() const {
    std::vector<fs::path> found;
    auto lookIn = [&found](const fs::path& trash) {
        std::error_code error;
        for (auto& entry : fs::directory_iterator(trash / "files", error)) {
            const auto name = entry.path().filename().string();
            // The backup goes to the Trash under the hidden name it had beside
            // the new copy.
            if (name.rfind("Orbitreel", 0) == 0 || name.rfind(".Orbitreel-backup-", 0) == 0)
                found.push_back(entry.path());
        }
    };
    lookIn(home_ / ".local/share/Trash");
    // On a volume of its own the system Applications folder has its Trash at
    // its top; it counts only as the person's own, which nobody else could
    // have planted: their folder, mode 0700, not a link.
    struct stat owner {};
    if (::stat(home_.c_str(), &owner) != 0) return found;
    const fs::path topTrash = "/Applications/.Trash-" + std::to_string(owner.st_uid);
    struct stat trash {};
    if (::lstat(topTrash.c_str(), &trash) == 0 && S_ISDIR(trash.st_mode) && trash.st_uid == owner.st_uid &&
        (trash.st_mode & 07777) == 0700)
        lookIn(topTrash);
    return found;
}

std::vector<pid_t> orbitreelProcesses() {
    std::vector<pid_t> found;
    std::error_code error;
    for (auto& entry : fs::directory_iterator("/proc", error)) {
        const auto name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code linkError;
        auto executable = fs::read_symlink(entry.path() / "exe", linkError).string();
        const std::string tail = ".app/Contents/MacOS/Orbitreel";
        if (!linkError && executable.size() >= tail.size() &&
            executable.compare(executable.size() - tail.size(), tail.size(), tail) == 0)
            found.push_back(static_cast<pid_t>(std::stol(name)));
    }
    return found;
}

void stopOrbitreel() {
    for (pid_t pid : orbitreelProcesses()) ::kill(pid, SIGTERM);
    for (int i = 0; i < 300 && !orbitreelProcesses().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (pid_t pid : orbitreelProcesses()) ::kill(pid, SIGKILL);
}

}  // namespace orbitreel::stage
