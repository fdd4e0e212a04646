// The installer among the user's other processes: what the programs it starts
// inherit from it, and the lock and socket that keep it to one per home.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <QCryptographicHash>

#include <algorithm>
#include <fstream>
#include <map>

#include "tests/e2e/e2e_fixture.h"
#include "stage/release_builder.h"

namespace orbitreel::e2e {
namespace {

// Descriptor number to what it points at.
std::map<int, std::string> descriptorsOf(pid_t pid) {
    std::map<int, std::string> found;
    std::error_code error;
    const fs::path folder = "/proc/" + std::to_string(pid) + "/fd";
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::error_code linkError;
        found[std::stoi(entry.path().filename().string())] = fs::read_symlink(entry.path(), linkError).string();
    }
    return found;
}

std::string listed(const std::map<int, std::string>& descriptors) {
    std::string text;
    for (const auto& [number, target] : descriptors) text += " " + std::to_string(number) + "->" + target;
    return text;
}

// The installer's own descriptors opened without close-on-exec.
std::string inheritableOf(pid_t pid) {
    std::string found;
    for (const auto& [number, target] : descriptorsOf(pid)) {
        if (number <= 2) continue;
        const std::string info =
            stage::readWholeFile("/proc/" + std::to_string(pid) + "/fdinfo/" + std::to_string(number));
        const auto at = info.find("flags:");
        if (at == std::string::npos) continue;  // closed meanwhile
        if ((std::stoul(info.substr(at + 6), nullptr, 8) & O_CLOEXEC) == 0)
            found += " " + std::to_string(number) + "->" + target;
    }
    return found;
}

TEST_F(EndToEnd, ToolsAndTheLaunchedApplicationInheritOnlyTheStandardStreams) {
    // An installer whose codesign stand-in stops at its first start until
    // told to go on, so that it can be looked at while it runs.
    const fs::path bundle = stage::installerCarrying(
        fs::path(ORBITREEL_STAGE_BUNDLE) / "Contents/Resources/release.json", work() / "installer");
    const fs::path tool = bundle / "Contents/Helpers/codesign";
    fs::rename(tool, tool.string() + ".real");
    const fs::path pidFile = work() / "tool.pid";
    const fs::path go = work() / "go";
    std::ofstream(tool) << "#!/bin/sh\n"
                        << "if [ ! -e '" << go.string() << "' ]; then\n"
                        << "  echo $$ > '" << pidFile.string() << ".part'\n"
                        << "  mv '" << pidFile.string() << ".part' '" << pidFile.string() << "'\n"
                        << "  while [ ! -e '" << go.string() << "' ]; do sleep 0.05; done\n"
                        << "fi\n"
                        << "exec '" << tool.string() << ".real' \"$@\"\n";
    fs::permissions(tool, fs::perms::owner_all);
    stage::SceneOptions options;
    options.installerBundle = bundle;
    scene(options).serveRelease(scene().releaseImage());

    openAndPress();
    stage::waitUntil([&] { return fs::exists(pidFile) || !scene().installerRunning(); }, Patience);
    ASSERT_TRUE(fs::exists(pidFile)) << diagnosis();
    const pid_t toolPid = std::stoi(stage::readWholeFile(pidFile));
    // The shell keeps the script it reads open, close-on-exec; nothing else.
    auto descriptors = descriptorsOf(toolPid);
    std::erase_if(descriptors, [&](const auto& entry) { return entry.first > 2 && entry.second == tool.string(); });
    EXPECT_EQ(descriptors.size(), 3u) << listed(descriptors);
    EXPECT_TRUE(descriptors.contains(0) && descriptors.contains(1) && descriptors.contains(2)) << listed(descriptors);
    // Meanwhile the installer's own descriptors, its connection and libcurl's
    // wake-up pair among them, would not survive a start either.
    EXPECT_EQ(inheritableOf(scene().installer().pid()), "") << listed(descriptorsOf(scene().installer().pid()));
    std::ofstream(go) << "";

    ASSERT_TRUE(waitForInstalled()) << diagnosis();
    const auto running = stage::orbitreelProcesses();
    ASSERT_EQ(running.size(), 1u);
    const auto appDescriptors = descriptorsOf(running[0]);
    EXPECT_EQ(appDescriptors.size(), 3u) << listed(appDescriptors);
    EXPECT_TRUE(appDescriptors.contains(0) && appDescriptors.contains(1) && appDescriptors.contains(2))
        << listed(appDescriptors);
}

TEST_F(EndToEnd, NothingPlantedStopsTheInstallerAndAKilledOnesLockIsTakenOver) {
    // Another user's folders at the names of the lock and the socket: in the
    // shared temporary folder, where they used to be, and in the private one.
    const fs::path homeFolder = home().home();
    const std::string hash =
        QCryptographicHash::hash(QByteArray::fromStdString(homeFolder.string()), QCryptographicHash::Sha256)
            .toHex()
            .left(16)
            .toStdString();
    const std::string oldName = "OrbitreelInstaller-" + std::to_string(getuid()) + "-" + hash;
    const fs::path place = homeFolder / "Library/Caches/OrbitreelInstaller-Instance";
    const std::string key = "user-" + std::to_string(getuid());
    for (const fs::path& planted : {fs::path("/tmp") / (oldName + ".lock"), fs::path("/tmp") / oldName,
                                    place / (key + ".lock"), place / (key + ".socket"), place}) {
        fs::create_directories(planted / "inside");
        ASSERT_EQ(::chown(planted.c_str(), 65534, 65534), 0) << planted;
    }

    // Qt's own options are ignored like any other argument: this one would
    // keep the window off the screen, that one would load a style sheet.
    scene().openInstaller(20s, {"-platform", "offscreen", "-reverse", "-stylesheet", "/nonexistent.qss"});
    EXPECT_TRUE(fs::exists(place / (key + ".lock")));

    // Killed outright, it leaves its lock; the next one takes it over.
    scene().installer().signal(SIGKILL);
    ASSERT_TRUE(scene().waitForInstallerExit(Patience).has_value());
    scene().openInstaller();

    // Opening it again reaches the running one, which shows its window again.
    auto windowLines = [&] {
        return std::ranges::count_if(home().logEntries(),
                                     [](const std::string& entry) { return startsWith(entry, "window visible="); });
    };
    const auto shown = windowLines();
    stage::ProgramLaunch again;
    again.program = scene().installerBundle() / "Contents/MacOS/OrbitreelInstaller";
    again.environment = stage::userEnvironment(homeFolder, scene().displayName());
    EXPECT_EQ(stage::ChildProcess(again).waitFor(Patience), std::optional<int>(0));
    EXPECT_TRUE(stage::waitUntil([&] { return windowLines() > shown; }, Patience)) << diagnosis();
    EXPECT_TRUE(scene().installerRunning());

    // Closed, it leaves neither behind.
    scene().closeWindow();
    ASSERT_EQ(scene().waitForInstallerExit(Patience), std::optional<int>(0)) << diagnosis();
    EXPECT_TRUE(fs::is_empty(place));
}

}  // namespace
}  // namespace orbitreel::e2e
