// The installer killed (SIGKILL) at each step of the install, over a home
// with and without an older Orbitreel at the target, then started again on
// the same home until it has installed. The kill comes from outside: a trap
// that follows the installer, or the tool it runs, through ptrace.

#include <signal.h>

#include "tests/e2e/e2e_fixture.h"
#include "stage/bundle_check.h"
#include "stage/crash_trap.h"
#include "stage/release_builder.h"
#include "stage/target_watch.h"
#include "stage/tool_processes.h"
#include "stage/tool_wrapper.h"

namespace orbitreel::e2e {
namespace {

enum class Point { Verify, Attach, CodesignImage, Ditto, CodesignCopy, Swap, Detach };

struct Case {
    Point point;
    bool previousCopy;
};

const char* pointName(Point point);

void PrintTo(const Case& c, std::ostream* out) {
    *out << pointName(c.point) << (c.previousCopy ? " over an older copy" : " into an empty folder");
}

const char* pointName(Point point) {
    switch (point) {
        case Point::Verify:
            return "DuringVerify";
        case Point::Attach:
            return "DuringAttach";
        case Point::CodesignImage:
            return "DuringCodesignOfImage";
        case Point::Ditto:
            return "DuringDitto";
        case Point::CodesignCopy:
            return "DuringCodesignOfCopy";
        case Point::Swap:
            return "RightAfterSwap";
        case Point::Detach:
            return "DuringDetach";
    }
    return "?";
}

// The call each point lies in, and how far into its files the trap springs:
// far enough that the tool has work half done (files in the mount folder, in
// the staging copy, some removed), short of its end.
stage::ToolCall callAt(Point point) {
    switch (point) {
        case Point::Verify:
            return {"hdiutil", "\"verify \"*", 1};
        case Point::Attach:
            return {"hdiutil", "\"attach \"*", 8};
        case Point::CodesignImage:
            return {"codesign", "*\"/mount-\"*\"/Orbitreel.app\"", 6};
        case Point::Ditto:
            return {"ditto", "*", 8};
        case Point::CodesignCopy:
            // The copy, reached through the installer's descriptor on its
            // private folder.
            return {"codesign", "*\"/fd/\"*\"/Orbitreel.app\"", 6};
        case Point::Detach:
            return {"hdiutil", "\"detach \"*", 6};
        case Point::Swap:
            break;
    }
    return {};
}

// "mount-" folders in the version folder that hold files, with their count.
std::vector<std::string> filledMountFolders(const fs::path& versionFolder) {
    std::vector<std::string> found;
    std::error_code error;
    for (auto& folder : fs::directory_iterator(versionFolder, error)) {
        if (!folder.path().filename().string().starts_with("mount-")) continue;
        int files = 0;
        for (auto it = fs::recursive_directory_iterator(folder.path(), error); it != fs::recursive_directory_iterator();
             it.increment(error))
            ++files;
        if (files > 0) found.push_back(folder.path().filename().string() + " (" + std::to_string(files) + " entries)");
    }
    return found;
}

std::string listed(const std::vector<std::string>& items) {
    std::string text;
    for (auto& item : items) text += "\n  " + item;
    return text;
}

std::string listed(const std::vector<stage::ToolProcess>& tools) {
    std::vector<std::string> lines;
    for (auto& tool : tools) lines.push_back(std::to_string(tool.pid) + " " + tool.commandLine);
    return listed(lines);
}

std::string listed(const std::vector<fs::path>& paths) {
    std::vector<std::string> names;
    for (auto& path : paths) names.push_back(path.filename().string());
    return listed(names);
}

class KilledInstall : public EndToEnd, public ::testing::WithParamInterface<Case> {
protected:
    // A whole application at the target, of either version.
    std::string targetProblem() {
        const auto app = home().installedApp();
        const auto asNew = stage::bundleProblem(app, "1.4.2");
        if (asNew.empty() || stage::bundleProblem(app, "1.4.1").empty()) return {};
        return asNew;
    }
};

TEST_P(KilledInstall, LeavesAWholeApplicationAndTheRerunLeavesNothingBehind) {
    const auto [point, previousCopy] = GetParam();
    const fs::path trap = E2E_CRASH_TRAP;
    const fs::path report = work() / "trap-report.txt";
    const fs::path bundle =
        stage::installerCarrying(fs::path(ORBITREEL_STAGE_RELEASE_DIR) / "release.json", work() / "installer");
    const fs::path helpers = bundle / "Contents/Helpers";
    const auto call = callAt(point);
    if (point != Point::Swap) stage::wrapTool(bundle, call, trap, report);
    stage::SceneOptions options;
    options.installerBundle = bundle;
    scene(options).serveRelease(scene().releaseImage());

    // The image is already downloaded: every kill point lies in the install.
    fs::create_directories(home().cacheFolder());
    fs::copy_file(scene().releaseImagePath(), home().cachedImage());
    fs::create_directories(home().applications());
    if (previousCopy) {
        stage::makeRelease({work() / "old", "1.4.1", 0, {"--keep-staging"}});
        fs::copy(work() / "old/staging/Orbitreel.app", home().installedApp(),
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
    stage::TargetWatch watch(home().applications());

    scene().openInstaller();
    stage::ChildProcess renameTrap;
    if (point == Point::Swap) {
        stage::ProgramLaunch launch;
        launch.program = trap;
        launch.arguments = {"rename", std::to_string(scene().installer().pid()), "/Orbitreel.app", report.string()};
        renameTrap = stage::ChildProcess(launch);
        ASSERT_TRUE(stage::waitUntil(
            [&] { return stage::readWholeFile(report).starts_with(std::string(stage::TrapArmed) + "\n"); }, Patience))
            << "the trap could not follow the installer:\n"
            << stage::readWholeFile(report);
    }
    scene().pressButton();
    // Killed, or through without the trap springing (installed or failed).
    stage::waitUntil(
        [&] { return !scene().installerRunning() || home().applicationStarts() > 0 || !home().errorEntries().empty(); },
        Patience);
    const auto status = scene().waitForInstallerExit(std::chrono::seconds(1));
    (void)renameTrap.waitFor(Patience);
    // A tool's trap tells last whether the tool died with the installer.
    if (point != Point::Swap)
        stage::waitUntil(
            [&] {
                const auto text = stage::readWholeFile(report);
                return text.find(stage::ToolDiedWithInstaller) != std::string::npos ||
                       text.find(stage::ToolOutlivedInstaller) != std::string::npos;
            },
            Patience);
    const std::string trapped = stage::readWholeFile(report);
    ASSERT_EQ(status, 128 + SIGKILL) << "the installer was not killed " << pointName(point) << "; the trap reported:\n"
                                     << trapped << diagnosis();
    ASSERT_NE(trapped.find(stage::TrapKilled), std::string::npos) << trapped;
    EXPECT_TRUE(trapped.find(stage::ToolOutlivedInstaller) == std::string::npos)
        << call.tool << " went on running after the installer died; the trap reported:\n"
        << trapped;
    EXPECT_TRUE(stage::waitUntil([&] { return stage::toolsRunning(helpers).empty(); }, Patience))
        << "tools still running after the kill:" << listed(stage::toolsRunning(helpers));

    // What the person finds after the kill: the copy they had, or the new one.
    if (previousCopy || fs::exists(home().installedApp())) {
        const std::string problem = targetProblem();
        EXPECT_TRUE(problem.empty()) << "after the kill: " << problem;
    }

    bool installed = false;
    for (int press = 0; press < 3 && !installed; ++press) {
        if (!scene().installerRunning()) scene().openInstaller();
        (void)scene().settledPicture();
        scene().pressButton();
        installed = waitForInstalled();
    }
    ASSERT_TRUE(installed) << "the rerun did not install; the trap reported:\n"
                           << stage::readWholeFile(report) << diagnosis();
    EXPECT_TRUE(installedIntact());
    EXPECT_TRUE(home().hiddenCopies().empty())
        << "hidden copies left in Applications after the rerun:" << listed(home().hiddenCopies());
    const auto filled = filledMountFolders(home().cacheFolder());
    EXPECT_TRUE(filled.empty()) << "mount folders holding files after the rerun:" << listed(filled);
    EXPECT_TRUE(stage::waitUntil([&] { return stage::toolsRunning(helpers).empty(); }, Patience))
        << "tools still running after the rerun:" << listed(stage::toolsRunning(helpers));
    EXPECT_EQ(watch.absences(), 0) << "Orbitreel.app went away from Applications " << watch.absences()
                                   << " time(s) in the killed run and the rerun";
    if (HasFailure()) std::cerr << "---- the trap's report\n" << stage::readWholeFile(report);
    stage::stopOrbitreel();
}

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (Point point : {Point::Verify, Point::Attach, Point::CodesignImage, Point::Ditto, Point::CodesignCopy,
                        Point::Swap, Point::Detach})
        for (bool previousCopy : {false, true}) cases.push_back({point, previousCopy});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(CrashMatrix, KilledInstall, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(pointName(info.param.point)) +
                                    (info.param.previousCopy ? "_OverOlderCopy" : "_IntoEmptyFolder");
                         });

}  // namespace
}  // namespace orbitreel::e2e
