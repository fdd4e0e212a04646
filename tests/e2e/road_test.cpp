// The road a user takes when nothing goes wrong, also with an older copy in
// the way and with Orbitreel still running; and the way back to the installed
// copy through the desktop's launcher.

#include <fstream>
#include <thread>

#include "tests/e2e/e2e_fixture.h"
#include "stage/child_process.h"
#include "ui/palette.h"

namespace orbitreel::e2e {
namespace {

// The bar's track, near its right end, in window coordinates: empty until
// the download fills it.
constexpr int BarEndX = 522;
constexpr int BarTrackY = 297;
// The status panel.
const QRect StatusPanel(32, 148, 496, 112);

QColor barEnd(const QImage& window) { return window.pixelColor(BarEndX, BarTrackY); }

TEST_F(EndToEnd, RoadFromTheButtonToTheRunningApplication) {
    scene().serveRelease(scene().releaseImage());
    scene().openInstaller();
    EXPECT_EQ(barEnd(scene().settledPicture()), Palette::surface2());

    scene().pressButton();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());

    // What the installer wrote, in order, and no failure.
    auto entries = home().logEntries();
    ASSERT_EQ(entries.size(), 3u) << diagnosis();
    EXPECT_EQ(entries[0], "launch " + scene().installerBundle().string());
    EXPECT_EQ(entries[1], "layout placed");
    EXPECT_TRUE(startsWith(entries[2], "window visible=true")) << entries[2];

    // One whole transfer; the cache keeps nothing, nothing hidden is left.
    auto requests = scene().host().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].status, 200);
    EXPECT_EQ(requests[0].bodyBytesSent, static_cast<std::uint64_t>(scene().release().bytes));
    // The image goes in the background.
    EXPECT_TRUE(stage::waitUntil([&] { return !fs::exists(home().cachedImage()); }, Patience));
    EXPECT_FALSE(fs::exists(home().resumeData()));
    EXPECT_TRUE(home().hiddenCopies().empty());
    EXPECT_TRUE(home().trashedApplications().empty());

    // The window shows the bar full.
    EXPECT_TRUE(stage::waitUntil([&] { return barEnd(scene().picture()) == Palette::accent(); }, 10s)) << diagnosis();

    // "Listo" ends the installer; Orbitreel stays.
    scene().pressButton();
    EXPECT_EQ(scene().waitForInstallerExit(Patience), std::optional<int>(0));
    EXPECT_EQ(stage::orbitreelProcesses().size(), 1u);
    EXPECT_EQ(home().applicationStarts(), 1);
}

TEST_F(EndToEnd, ACachedImageIsInstalledWithoutTheNetworkAndTheWindowOutlivesTheApplication) {
    // Nothing is served: the image a finished download left is all there is.
    scene().openInstaller();
    fs::create_directories(home().cachedImage().parent_path());
    fs::copy_file(scene().releaseImagePath(), home().cachedImage());
    scene().pressButton();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    EXPECT_TRUE(scene().host().requests().empty());
    EXPECT_TRUE(stage::waitUntil([&] { return !fs::exists(home().cachedImage()); }, Patience));
    EXPECT_EQ(stage::orbitreelProcesses().size(), 1u);
    EXPECT_EQ(home().applicationStarts(), 1);

    // Orbitreel quitting changes nothing in the installer's window.
    const QImage installed = scene().settledPicture();
    ASSERT_FALSE(installed.isNull()) << diagnosis();
    stage::stopOrbitreel();
    ASSERT_TRUE(stage::waitUntil([] { return stage::orbitreelProcesses().empty(); }, Patience));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(scene().installerRunning());
    EXPECT_TRUE(scene().settledPicture() == installed) << diagnosis();
}

TEST_F(EndToEnd, CopyInHomeApplicationsIsReplacedAndGoesToTheTrash) {
    const fs::path old = scene().home().installedApp();
    fs::create_directories(old / "Contents/MacOS");
    std::ofstream(old / "Contents/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>app.orbitreel.Orbitreel</string>"
           "<key>CFBundleShortVersionString</key><string>1.3.0</string></dict></plist>\n";
    std::ofstream(old / "Contents/MacOS/old-copy.txt") << "the copy from before\n";

    scene().serveRelease(scene().releaseImage());
    openAndPress();
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    EXPECT_FALSE(fs::exists(old / "Contents/MacOS/old-copy.txt"));

    // The old copy is in the Trash whole, with its restore information.
    auto trashed = home().trashedApplications();
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_TRUE(fs::exists(trashed[0] / "Contents/MacOS/old-copy.txt"));
    const fs::path info = home().home() / ".local/share/Trash/info" / (trashed[0].filename().string() + ".trashinfo");
    EXPECT_NE(stage::readWholeFile(info).find("Path="), std::string::npos) << info;
    EXPECT_TRUE(home().hiddenCopies().empty());
}

TEST_F(EndToEnd, OrbitreelRunningIsRefusedThenInstalledOnceItQuits) {
    // A copy of Orbitreel running from elsewhere, as a user may have one.
    const fs::path elsewhere = work() / "elsewhere";
    fs::create_directories(elsewhere);
    stage::ProgramLaunch attach;
    attach.program = fs::path(ORBITREEL_STAGE_HELPERS) / "hdiutil";
    attach.arguments = {"attach",          scene().releaseImagePath().string(), "-readonly", "-nobrowse", "-mountpoint",
                        elsewhere.string()};
    ASSERT_EQ(stage::ChildProcess(attach).waitFor(Patience), std::optional<int>(0));
    stage::ProgramLaunch running;
    running.program = elsewhere / "Orbitreel.app/Contents/MacOS/Orbitreel";
    running.environment = stage::userEnvironment(work() / "other-home", "");
    stage::ChildProcess orbitreel(running);
    ASSERT_TRUE(stage::waitUntil([] { return stage::orbitreelProcesses().size() == 1; }, Patience));

    scene().serveRelease(scene().releaseImage());
    scene().openInstaller();
    const QImage ready = scene().settledPicture();
    scene().pressButton();
    // The status text changes, and nothing else happens.
    EXPECT_TRUE(stage::waitUntil([&] { return scene().picture().copy(StatusPanel) != ready.copy(StatusPanel); }, 10s))
        << diagnosis();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(scene().host().requests().empty());
    EXPECT_TRUE(home().errorEntries().empty());
    EXPECT_FALSE(fs::exists(home().installedApp()));
    EXPECT_EQ(barEnd(scene().picture()), Palette::surface2());

    orbitreel.stop();
    ASSERT_TRUE(stage::waitUntil([] { return stage::orbitreelProcesses().empty(); }, Patience));
    scene().pressButton();  // "Volver a intentar"
    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    EXPECT_TRUE(installedIntact());
}

// The desktop's launcher finds the copy once the installer is closed: after
// an install to the home folder, a reinstall over it, and an install to the
// system folder, the entry validates, names the copy and starts it. The home's
// name has a space and a percent sign, which the entry must quote.
TEST_F(EndToEnd, TheDesktopsLauncherFindsTheInstalledCopyWhereverItLives) {
    for (const char* tool : {"gio", "desktop-file-validate"})
        if (stage::findProgram(tool).empty())
            GTEST_SKIP() << tool << " is not installed (Debian packages libglib2.0-bin, desktop-file-utils)";
    stage::SceneOptions options;
    options.home = work() / "home %s 100%";
    scene(options);
    scene().serveRelease(scene().releaseImage());
    const fs::path entry = home().home() / ".local/share/applications/app.orbitreel.Orbitreel.desktop";
    const fs::path toolOutput = work() / "tool.txt";
    auto run = [&](const std::string& tool, std::vector<std::string> arguments) {
        stage::ProgramLaunch launch;
        launch.program = stage::findProgram(tool);
        launch.arguments = std::move(arguments);
        launch.environment = stage::userEnvironment(home().home(), scene().displayName());
        launch.output = toolOutput;
        return stage::ChildProcess(launch).waitFor(Patience);
    };

    // Installs, ends the installer and Orbitreel, then starts Orbitreel the
    // way the launcher does; what started, for the caller to check.
    auto installThenLaunch = [&](const fs::path& copy) -> fs::path {
        const fs::path executable = copy / "Contents/MacOS/Orbitreel";
        const int starts = home().applicationStarts();
        openAndPress();
        EXPECT_TRUE(stage::waitUntil([&] { return home().applicationStarts() > starts; }, Patience)) << diagnosis();
        // Written beside the launch, as a background job.
        EXPECT_TRUE(stage::waitUntil(
            [&] {
                return stage::readWholeFile(entry).find("\nTryExec=" + executable.string() + "\n") != std::string::npos;
            },
            10s))
            << stage::readWholeFile(entry);
        scene().pressButton();
        EXPECT_EQ(scene().waitForInstallerExit(Patience), std::optional<int>(0));
        stage::stopOrbitreel();

        EXPECT_EQ(run("desktop-file-validate", {entry.string()}), std::optional<int>(0))
            << stage::readWholeFile(toolOutput);
        EXPECT_EQ(stage::readWholeFile(toolOutput), "");
        EXPECT_EQ(run("gio", {"launch", entry.string()}), std::optional<int>(0)) << stage::readWholeFile(toolOutput);
        fs::path started;
        stage::waitUntil([&] { return home().applicationStarts() > starts + 1; }, Patience);
        for (pid_t pid : stage::orbitreelProcesses())
            started = fs::read_symlink("/proc/" + std::to_string(pid) + "/exe");
        stage::stopOrbitreel();
        return started;
    };

    EXPECT_EQ(installThenLaunch(home().installedApp()), home().installedApp() / "Contents/MacOS/Orbitreel");
    EXPECT_NE(stage::readWholeFile(entry).find(
                  "\nIcon=" + (home().installedApp() / "Contents/Resources/Orbitreel.png").string() + "\n"),
              std::string::npos)
        << stage::readWholeFile(entry);

    // A reinstall writes the entry anew.
    std::ofstream(entry, std::ios::app) << "X-Left=by hand\n";
    EXPECT_EQ(installThenLaunch(home().installedApp()), home().installedApp() / "Contents/MacOS/Orbitreel");
    EXPECT_EQ(stage::readWholeFile(entry).find("X-Left"), std::string::npos);

    // A copy in the system folder is replaced there, and the entry follows it.
    const fs::path systemCopy = "/Applications/Orbitreel.app";
    fs::create_directories(systemCopy / "Contents/MacOS");
    std::ofstream(systemCopy / "Contents/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>app.orbitreel.Orbitreel</string>"
           "<key>CFBundleShortVersionString</key><string>1.3.0</string></dict></plist>\n";
    EXPECT_EQ(installThenLaunch(systemCopy), systemCopy / "Contents/MacOS/Orbitreel");
    fs::remove_all(systemCopy);
}

}  // namespace
}  // namespace orbitreel::e2e
