#include "tests/install/install_fixture.h"

#include <sys/wait.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <thread>

#include "core/cache_paths.h"
#include "install/install.h"
#include "platform/linux/linux_processes.h"
#include "platform/linux/qt_queues.h"
#include "tests/install/install_test_paths.h"

namespace orbitreel::test_support {

namespace fs = std::filesystem;

bool runTool(const Path& tool, const std::vector<std::string>& arguments) {
    auto status = makeLinuxProcesses()->run(tool, arguments);
    return status && *status == 0;
}

DemoImages& DemoImages::shared() {
    static DemoImages images;
    return images;
}

DemoImages::DemoImages() : version_("1.4.2") {
    const Path out = release("demo", {"--keep-staging"});
    image_ = out;
    signedApp_ = out.parent_path() / "staging/Orbitreel.app";
}

Path DemoImages::variant(const std::string& name, const std::vector<std::string>& options) {
    return release(name, options);
}

Path DemoImages::release(const std::string& name, const std::vector<std::string>& options) {
    const Path out = folder_.path() / name;
    std::vector<std::string> arguments{releaseToolPath().string(),
                                       "--helpers",
                                       helpersDir().string(),
                                       "--app-binary",
                                       demoAppBinaryPath().string(),
                                       "--out",
                                       out.string(),
                                       "--version",
                                       version_};
    arguments.insert(arguments.end(), options.begin(), options.end());
    if (!runTool("/bin/bash", arguments)) throw std::runtime_error("the release tool failed for " + name);
    for (const auto& file : entries(out))
        if (file.ends_with(".dmg")) return out / file;
    throw std::runtime_error("the release tool made no image for " + name);
}

std::vector<std::string> entries(const Path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, std::string> snapshot(const Path& folder) {
    std::map<std::string, std::string> items;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const std::string name = fs::relative(it->path(), folder).string();
        if (it->is_symlink()) {
            items[name] = "-> " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            items[name] = "/";
        } else {
            items[name] = readText(it->path());
        }
    }
    return items;
}

void stopProcessesRunningFrom(const Path& folder) {
    const std::string prefix = folder.string() + "/";
    for (int attempt = 0; attempt < 500; ++attempt) {
        bool any = false;
        std::error_code ec;
        for (auto it = fs::directory_iterator("/proc", ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            std::error_code linkError;
            const std::string executable = fs::read_symlink(it->path() / "exe", linkError).string();
            if (linkError || !executable.starts_with(prefix)) continue;
            any = true;
            const pid_t pid = std::stoi(name);
            ::kill(pid, SIGKILL);
            // Orphans come to us when the tests run as the namespace's first process.
            ::waitpid(pid, nullptr, WNOHANG);
        }
        if (!any) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool isUuid(const std::string& text) {
    static const std::regex form("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
    return std::regex_match(text, form);
}

void writePreviousCopy(const Path& bundle, const std::string& marker) {
    writeText(bundle / "Contents/Info.plist",
              "<?xml version=\"1.0\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleIdentifier</key><string>app.orbitreel.Orbitreel</string>"
              "<key>CFBundleShortVersionString</key><string>0.9</string></dict></plist>\n");
    writeText(bundle / "Contents/Resources/marker", marker);
}

std::string markerOf(const Path& bundle) { return readText(bundle / "Contents/Resources/marker"); }

InstallTest::InstallTest() : home_(root_.path() / "home folder"), systemFolder_(root_.path() / "Applications") {
    // Others may need to enter the folder: some cases run as an unprivileged user.
    fs::permissions(root_.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
    fs::create_directories(home_);
    fs::create_directories(systemFolder_);
    fs::create_directories(root_.path() / "tmp");

    // The Trash lies where the desktop looks for it: below $HOME, or $XDG_DATA_HOME.
    for (const char* name : {"HOME", "XDG_DATA_HOME"}) {
        const char* value = std::getenv(name);
        savedEnvironment_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
    ::setenv("HOME", home_.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home_ / ".local/share").c_str(), 1);

    release.version = DemoImages::shared().version();
    release.url = "https://orbitreel.app/downloads/Orbitreel-Mac-" + release.version + ".dmg";

    platform = services_.withHome(home_, root_.path() / "tmp")
                   .withHelpers(helpersDir())
                   .withSystemApplications(systemFolder_)
                   .withFiles(files)
                   .withProcesses(processes)
                   .build();
}

InstallTest::~InstallTest() {
    for (const auto& [name, value] : savedEnvironment_) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
}

Path InstallTest::versionDirectory() const { return orbitreel::versionDirectory(home_, release.version); }
Path InstallTest::cachedImage() const { return orbitreel::cachedImage(home_, release.version); }

std::vector<std::string> InstallTest::mountFolders() const {
    std::vector<std::string> found;
    for (const auto& name : entries(versionDirectory()))
        if (name.starts_with("mount-")) found.push_back(name);
    return found;
}

void InstallTest::cacheImage(const Path& image) {
    fs::create_directories(versionDirectory());
    fs::copy_file(image, cachedImage(), fs::copy_options::overwrite_existing);
}

Result<Path> InstallTest::install(const Platform& on, const Release& what) {
    auto installed = orbitreel::install(on, what, Leftovers::recover);
    if (!installed) return fail_with(installed.error());
    return installed->location;
}

}  // namespace orbitreel::test_support
