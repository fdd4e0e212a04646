#include "stage/scene.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "stage/sandbox.h"
#include "stage/waiting.h"

namespace orbitreel::stage {

namespace fs = std::filesystem;

std::vector<std::string> userEnvironment(const fs::path& home, const std::string& display) {
    std::vector<std::string> environment{
        "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
        "HOME=" + home.string(),
        "USER=root",
        "LOGNAME=root",
        "LANG=C.UTF-8",
        "DISPLAY=" + display,
        "XDG_RUNTIME_DIR=" + (home / ".runtime").string(),
    };
    // A display of the user's own may want its authority file; a sanitizer
    // build, its settings.
    for (const char* name : {"XAUTHORITY", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"})
        if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
    return environment;
}

void handOver(const fs::path& top, const UserIdentity& user) {
    auto give = [&](const fs::path& item) {
        if (::lchown(item.c_str(), user.uid, user.gid) != 0)
            throw std::runtime_error("cannot hand " + item.string() + " to user " + std::to_string(user.uid));
    };
    give(top);
    if (!fs::is_directory(fs::symlink_status(top))) return;
    for (const auto& item : fs::recursive_directory_iterator(top)) give(item.path());
}

Scene::Scene(const SceneOptions& options)
    : work_(options.work),
      // Another user may not reach the build where root keeps it.
      bundle_(options.user ? seenByEveryone(options.installerBundle) : options.installerBundle),
      user_(options.user),
      environment_(options.environment),
      release_(readRelease(options.installerBundle / "Contents/Resources/release.json")),
      image_(options.releaseImage.empty()
                 ? fs::path(ORBITREEL_STAGE_RELEASE_DIR) / ("Orbitreel-Mac-" + release_.version + ".dmg")
                 : options.releaseImage),
      view_(options.home.empty() ? options.work / "home" : options.home, release_.version) {
    fs::create_directories(work_);
    fs::create_directories(view_.home() / ".runtime");
    fs::permissions(view_.home() / ".runtime", fs::perms::owner_all);
    if (user_) handOver(view_.home(), *user_);
    site_ = std::make_unique<ReleaseSite>(work_ / "release-host");
    if (options.display.empty()) {
        virtualScreen_ = std::make_unique<VirtualScreen>();
        display_ = virtualScreen_->displayName();
    } else {
        display_ = options.display;
    }
    x_ = std::make_unique<XConnection>(display_);
}

Scene::~Scene() {
    if (installer_.started()) installer_.stop();
    stopOrbitreel();
}

void Scene::useHome(const fs::path& home) {
    if (installerRunning()) throw std::logic_error("the installer is still running");
    view_ = HomeView(home, release_.version);
    fs::create_directories(home / ".runtime");
    fs::permissions(home / ".runtime", fs::perms::owner_all);
    if (user_) handOver(home, *user_);
}

void Scene::serveRelease(release_host::Entity entity) { host().serve(pathOfUrl(release_.url), std::move(entity)); }

void Scene::openInstaller(std::chrono::milliseconds timeout, const std::vector<std::string>& arguments) {
    if (installerRunning()) throw std::logic_error("the installer is already running");
    ProgramLaunch launch;
    launch.program = bundle_ / "Contents/MacOS/OrbitreelInstaller";
    launch.arguments = arguments;
    launch.environment = userEnvironment(view_.home(), display_);
    launch.environment.insert(launch.environment.end(), environment_.begin(), environment_.end());
    launch.user = user_;
    launch.output = work_ / ("installer-output-" + std::to_string(++runs_) + ".txt");
    auto windowLines = [this] {
        int lines = 0;
        for (auto& entry : view_.logEntries())
            if (entry.rfind("window visible=", 0) == 0) ++lines;
        return lines;
    };
    const int before = windowLines();
    installer_ = ChildProcess(launch);
    // The window is on screen, and this installer has written so.
    auto shown = [&] { return window() && windowLines() > before; };
    if (!waitUntil([&] { return shown() || installer_.exited(); }, timeout) || !shown())
        throw std::runtime_error("the installer's window did not appear; its output:\n" + installerOutput());
    (void)settledPicture();
}

std::optional<int> Scene::waitForInstallerExit(std::chrono::milliseconds timeout) {
    if (!waitUntil([this] { return installer_.exited(); }, timeout)) return std::nullopt;
    return installer_.exitStatus();
}

std::optional<TopWindow> Scene::window() { return x_->windowTitled(WindowTitle); }

std::optional<TopWindow> Scene::otherWindow() {
    for (auto& window : x_->visibleWindows())
        if (window.title != WindowTitle) return window;
    return std::nullopt;
}

void Scene::pressButton() {
    auto main = window();
    if (!main) throw std::runtime_error("no installer window to press Return in");
    x_->pressReturn(*main);
}

void Scene::dismissAlert() {
    auto alert = otherWindow();
    if (!alert) throw std::runtime_error("no alert to dismiss");
    x_->pressReturn(*alert);
}

void Scene::closeWindow() {
    auto main = window();
    if (!main) throw std::runtime_error("no installer window to close");
    x_->requestClose(*main);
}

QImage Scene::picture() { return x_->grab(x_->visibleArea()); }

namespace {

// A window the X server has mapped but the installer has not painted yet is
// one flat colour; a busy machine can keep it so for longer than a sample.
bool painted(const QImage& image) {
    if (image.isNull()) return false;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 8)
        for (int x = 0; x < image.width(); x += 8)
            if (image.pixel(x, y) != first) return true;
    return false;
}

}  // namespace

QImage Scene::settledPicture(std::chrono::milliseconds timeout) {
    QImage last = picture();
    waitUntil(
        [&] {
            QImage next = picture();
            const bool same = painted(next) && next == last;
            last = std::move(next);
            return same;
        },
        timeout, std::chrono::milliseconds(60));
    return last;
}

std::string Scene::installerOutput() const {
    std::string output;
    for (int run = 1; run <= runs_; ++run)
        output += readWholeFile(work_ / ("installer-output-" + std::to_string(run) + ".txt"));
    return output;
}

}  // namespace orbitreel::stage
