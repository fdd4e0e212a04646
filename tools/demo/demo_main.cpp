// The demo: the real installer downloads, verifies, installs and launches
// Orbitreel from a local release host that stands in for "orbitreel.app",
// inside a sandbox of its own (network, mounts, processes).
//
//   orbitreel_demo [--home DIR] [--pictures DIR] [--seconds N] [--payload-mb N] [--virtual-screen]
//
// With a display the window appears there and you press the button. Without
// one (or with --virtual-screen) it runs on a virtual screen, presses Return
// for you and saves a picture of each state it passes.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "stage/release_builder.h"
#include "stage/sandbox.h"
#include "stage/scene.h"
#include "stage/waiting.h"

namespace fs = std::filesystem;
using namespace orbitreel::stage;
using namespace std::chrono_literals;

namespace {

struct DemoOptions {
    fs::path home;
    fs::path pictures;
    int seconds = 10;
    int payloadMegabytes = 48;
    bool virtualScreen = false;
};

int usage() {
    std::cerr << "usage: orbitreel_demo [--home DIR] [--pictures DIR] [--seconds N] [--payload-mb N] "
                 "[--virtual-screen]\n"
                 "  --home DIR        the user's home folder (default: a fresh temporary one)\n"
                 "  --pictures DIR    where the pictures of the states go (virtual screen only)\n"
                 "  --seconds N       how long the download takes (default 10)\n"
                 "  --payload-mb N    content of the demo application, so the image weighs what a real\n"
                 "                    one does (default 48, about a 49 MB image); 0: the build's own\n"
                 "                    small demo release\n"
                 "  --virtual-screen  run on a virtual screen even when a display is there\n";
    return 2;
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
    return text;
}

fs::path freshFolder(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a folder in " + fs::temp_directory_path().string());
    return pattern;
}

void say(const std::string& line) { std::cout << "demo: " << line << std::endl; }

// Watches what a user would see and tells the person at the terminal.
class Narrator {
public:
    Narrator(Scene& scene, fs::path pictures) : scene_(scene), pictures_(std::move(pictures)) {}

    // `moving`: the window changes all the time (progress, the sweeping
    // bar), so there is nothing to wait for but its next frames.
    void state(const std::string& name, const std::string& file, bool moving = false) {
        say(name);
        if (pictures_.empty()) return;
        QImage picture;
        if (moving) {
            std::this_thread::sleep_for(150ms);
            picture = scene_.picture();
        } else {
            picture = scene_.settledPicture(2s);
        }
        const fs::path path = pictures_ / file;
        if (!picture.isNull() && picture.save(QString::fromStdString(path.string()))) {
            say("  picture: " + path.string());
            saved_.push_back(path);
        } else {
            say("  (could not save a picture of this state)");
        }
    }
    const std::vector<fs::path>& saved() const { return saved_; }

private:
    Scene& scene_;
    fs::path pictures_;
    std::vector<fs::path> saved_;
};

std::string percent(std::uint64_t part, std::uint64_t whole) {
    return std::to_string(whole ? part * 100 / whole : 0) + " %";
}

// Follows one run from Ready to Installed (or a failure). True when
// Orbitreel was installed and started.
bool followRun(Scene& scene, Narrator& narrator, bool pressForUser, bool retry) {
    const auto& home = scene.home();
    const std::uint64_t size = static_cast<std::uint64_t>(scene.release().bytes);
    const size_t errorsBefore = home.errorEntries().size();
    auto failed = [&] { return home.errorEntries().size() > errorsBefore; };

    if (retry) {
        say("press \"Reintentar\" to try again, or close the window");
    } else {
        narrator.state("Ready: the window shows \"Descargar e instalar\".", "1-ready.png");
        if (pressForUser) {
            say("pressing Return in the window, as a user would");
            scene.pressButton();
        } else {
            say("press \"Descargar e instalar\" in the installer's window");
        }
    }

    // Downloading: the release host is sending the image (on a retry
    // perhaps only its rest, or nothing when the cache holds it whole).
    const std::uint64_t sentBefore = scene.host().bodyBytesSent();
    auto sent = [&] { return scene.host().bodyBytesSent() - sentBefore; };
    const int startsBefore = home.applicationStarts();
    auto done = [&] { return failed() || !scene.installerRunning() || home.applicationStarts() > startsBefore; };
    waitUntil([&] { return sent() > 0 || fs::exists(home.cachedImage()) || done(); }, 24h);
    if (sent() > 0 && !done()) {
        waitUntil([&] { return sent() * 2 >= size || fs::exists(home.cachedImage()) || done(); }, 10min);
        narrator.state("Downloading: " + std::to_string(sent()) + " bytes of " + std::to_string(size) +
                           " sent by the release host so far.",
                       "2-downloading.png", true);
    }
    std::uint64_t reported = 0;
    waitUntil(
        [&] {
            if (sent() * 10 / size > reported * 10 / size && sent() < size) {
                say("  downloading: " + percent(sent(), size));
                reported = sent();
            }
            return fs::exists(home.cachedImage()) || done();
        },
        24h, 5ms);
    if (fs::exists(home.cachedImage()) && !failed())
        narrator.state("Verifying and installing: the image is in the cache (" + home.cachedImage().string() + ").",
                       "3-verifying.png", true);

    waitUntil(done, 10min);
    if (failed()) {
        say("the installer shows a failure: " + home.errorEntries().back());
        return false;
    }
    if (home.applicationStarts() <= startsBefore) {
        say("the installer ended before Orbitreel was installed");
        return false;
    }
    narrator.state("Installed: " + home.installedApp().string() +
                       ", and Orbitreel is running (its log: " + home.appLog().string() + ").",
                   "4-installed.png");
    return true;
}

int runDemo(const DemoOptions& options, const std::string& ownDisplay, const fs::path& work) {
    stopOnSignals();
    SceneOptions sceneOptions;
    sceneOptions.work = work;
    sceneOptions.installerBundle = ORBITREEL_STAGE_BUNDLE;
    if (options.payloadMegabytes > 0) {
        // A release the size of a real one, made by the build's release tool
        // and carried by a copy of the installer bundle.
        const auto version = readRelease(fs::path(ORBITREEL_STAGE_BUNDLE) / "Contents/Resources/release.json").version;
        say("making a demo release of about " + std::to_string(options.payloadMegabytes + 1) + " MB");
        auto manifest = makeRelease(ReleaseRecipe{
            work / "release", version, static_cast<std::uint64_t>(options.payloadMegabytes) * 1000000, {}});
        sceneOptions.installerBundle = installerCarrying(manifest, work);
        sceneOptions.releaseImage = work / "release" / ("Orbitreel-Mac-" + version + ".dmg");
        say("installer bundle: " + sceneOptions.installerBundle.string() + " (the build's, carrying that release)");
    }
    sceneOptions.home = options.home.empty() ? work / "home" : options.home;
    const bool onOwnDisplay = !ownDisplay.empty() && XConnection::reachable(ownDisplay);
    if (!ownDisplay.empty() && !onOwnDisplay)
        say("the display " + ownDisplay + " cannot be reached from the sandbox; using a virtual screen");
    if (onOwnDisplay) sceneOptions.display = ownDisplay;

    Scene scene(sceneOptions);
    const auto& release = scene.release();
    scene.serveRelease(paced(scene.releaseImage(), std::chrono::seconds(options.seconds)));
    say("release host: https://" + std::string(ReleaseHostName) + " is 127.0.0.1:443 in the sandbox, serving " +
        release.url + " (" + std::to_string(release.bytes) + " bytes, about " + std::to_string(options.seconds) +
        " s)");
    say("home folder: " + scene.home().home().string());

    fs::path pictures;
    if (!onOwnDisplay) {
        pictures = options.pictures.empty() ? work / ("pictures-" + timestamp()) : options.pictures;
        fs::create_directories(pictures);
        say("virtual screen " + scene.displayName() + "; the demo presses the button for you");
    }
    Narrator narrator(scene, pictures);

    scene.openInstaller();
    bool installed = false;
    try {
        installed = followRun(scene, narrator, !onOwnDisplay, false);
        // On a display of your own, a failure can be retried from the window.
        while (onOwnDisplay && !installed && scene.installerRunning())
            installed = followRun(scene, narrator, false, true);
    } catch (const Interrupted&) {
        say("stopped");
    }

    if (!onOwnDisplay && installed) {
        say("pressing Return on \"Listo\", which ends the installer");
        scene.pressButton();
        auto status = scene.waitForInstallerExit(10s);
        say(status ? "the installer ended with status " + std::to_string(*status) : "the installer did not end");
    } else if (onOwnDisplay && !stopRequested()) {
        say("press \"Listo\" or close the window to end the installer (Ctrl-C ends the demo)");
        try {
            waitUntil([&] { return !scene.installerRunning(); }, 24h, 100ms);
        } catch (const Interrupted&) {
            say("stopped");
        }
    }

    say("the installer's log (" + scene.home().installerLog().string() + "):");
    for (auto& entry : scene.home().logEntries()) std::cout << "    " << entry << "\n";
    if (!pictures.empty()) {
        say("pictures of the states, in " + pictures.string() + ":");
        for (auto& file : narrator.saved()) std::cout << "    " << file.filename().string() << "\n";
    }
    say(installed ? "done: Orbitreel was downloaded, verified, installed and started"
                  : "done, without a finished install");
    return installed ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    DemoOptions options;
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw std::invalid_argument(args[i] + " needs a value");
            return args[++i];
        };
        try {
            if (args[i] == "--home") options.home = fs::absolute(value());
            else if (args[i] == "--pictures") options.pictures = fs::absolute(value());
            else if (args[i] == "--seconds") options.seconds = std::max(1, std::stoi(value()));
            else if (args[i] == "--payload-mb") options.payloadMegabytes = std::max(0, std::stoi(value()));
            else if (args[i] == "--virtual-screen") options.virtualScreen = true;
            else return usage();
        } catch (const std::exception& error) {
            std::cerr << "orbitreel_demo: " << error.what() << "\n";
            return usage();
        }
    }
    const char* display = std::getenv("DISPLAY");
    const std::string ownDisplay = (display && !options.virtualScreen) ? display : "";

    fs::path work;
    try {
        work = freshFolder("orbitreel-demo-");
    } catch (const std::exception& error) {
        std::cerr << "orbitreel_demo: " << error.what() << "\n";
        return 1;
    }
    // The display's socket lies in the host's /tmp, and the pictures and the
    // home must outlive the sandbox: keep the host's /tmp.
    auto entry = enterSandbox(SandboxOptions{.privateTmp = false});
    if (!entry.inside) {
        std::cerr << "orbitreel_demo: the demo runs the installer in network, mount and process namespaces of its "
                     "own, which needs root (or unprivileged user namespaces) and unshare.\n"
                     "  What failed: "
                  << entry.refusal << "\n  Run it as root: sudo bash tools/demo.sh\n";
        fs::remove_all(work);
        return 3;
    }
    int status = 1;
    try {
        status = runDemo(options, ownDisplay, work);
    } catch (const Interrupted&) {
        say("stopped");
        status = 130;
    } catch (const std::exception& error) {
        std::cerr << "orbitreel_demo: " << error.what() << "\n";
    }
    // The home and the pictures stay for a look (and the installer's output
    // after a failure); the rest goes.
    std::error_code ignored;
    for (const char* made : {"release", "OrbitreelInstaller.app", "release-host"}) fs::remove_all(work / made, ignored);
    for (int run = 1; status == 0 && fs::remove(work / ("installer-output-" + std::to_string(run) + ".txt"), ignored);
         ++run) {
    }
    say("kept for a look: " + work.string());
    return status;
}
