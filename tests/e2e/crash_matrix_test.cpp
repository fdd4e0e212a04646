// The installer killed (SIGKILL) at each step of the install, over a home
// with and without an older Orbitreel at the target, and right after each
// call of the swap that changes a file; then started again on the same home
// until it has installed. The kill comes from outside: a trap that follows
// the installer, or the tool it runs, through ptrace.

#include <signal.h>

#include <algorithm>
#include <sstream>

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

// A whole application at `app`, of either version.
std::string wholeApplicationProblem(const fs::path& app) {
    const auto asNew = stage::bundleProblem(app, "1.4.2");
    if (asNew.empty() || stage::bundleProblem(app, "1.4.1").empty()) return {};
    return asNew;
}

class KilledInstall : public EndToEnd, public ::testing::WithParamInterface<Case> {
protected:
    std::string targetProblem() { return wholeApplicationProblem(home().installedApp()); }
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

// Each call of the swap that changes a file is a kill point: from the flush
// of the checked copy (syncfs) until the installer starts its next tool. The
// trap counts them as they come, so the matrix ends at the first run that
// gets through; more than this many means it never did.
constexpr int MostKillPoints = 60;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Trash entries without their other half: a .trashinfo without its item, or
// an item without its .trashinfo.
std::vector<std::string> trashOrphans(const fs::path& trash) {
    std::vector<std::string> orphans;
    const std::string suffix = ".trashinfo";
    for (auto& name : namesIn(trash / "info")) {
        const bool described = name.ends_with(suffix) && name.size() > suffix.size();
        std::error_code error;
        if (!described ||
            !fs::exists(fs::symlink_status(trash / "files" / name.substr(0, name.size() - suffix.size()), error)))
            orphans.push_back("info/" + name);
    }
    for (auto& name : namesIn(trash / "files"))
        if (!fs::exists(trash / "info" / (name + suffix))) orphans.push_back("files/" + name);
    return orphans;
}

// Which Orbitreel `app` is, or what is wrong with it.
std::string versionOf(const fs::path& app) {
    for (const char* version : {"1.4.1", "1.4.2"})
        if (stage::bundleProblem(app, version).empty()) return version;
    return "not a whole application: " + stage::bundleProblem(app, "1.4.2");
}

// The trap's words for call `nth`.
std::string reportedCall(const std::string& report, int nth) {
    const std::string prefix = stage::TrapCounted + std::to_string(nth) + ": ";
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(prefix)) return line.substr(prefix.size());
    return "?";
}

class CrashMatrix : public EndToEnd {
protected:
    // `text` with the home folder shown as "~", to keep the report short.
    std::string inHome(std::string text) {
        const std::string folder = home().home().string();
        for (auto at = text.find(folder); at != std::string::npos; at = text.find(folder, at + 1))
            text.replace(at, folder.size(), "~");
        return text;
    }
    fs::path trash() { return home().home() / ".local/share/Trash"; }
    fs::path records() { return home().home() / "Library/Caches/OrbitreelInstaller-Records"; }

    // A home of its own for each kill point: the image in the cache, the
    // older copy at the target.
    void freshHome(int nth, const fs::path& olderCopy) {
        scene().useHome(work() / ("home-" + std::to_string(nth)));
        fs::create_directories(home().cacheFolder());
        fs::copy_file(scene().releaseImagePath(), home().cachedImage());
        fs::create_directories(home().applications());
        fs::copy(olderCopy, home().installedApp(), fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }

    // Starts the installer under the trap, which springs at call `nth`;
    // whether the trap follows it.
    bool openUnderTrap(int nth, const fs::path& report, stage::ChildProcess& trap) {
        scene().openInstaller();
        stage::ProgramLaunch launch;
        launch.program = E2E_CRASH_TRAP;
        launch.arguments = {"syscall", std::to_string(scene().installer().pid()), std::to_string(nth), report.string()};
        trap = stage::ChildProcess(launch);
        return stage::waitUntil(
            [&] { return stage::readWholeFile(report).starts_with(std::string(stage::TrapArmed) + "\n"); }, Patience);
    }

    // Presses until the installer has installed; how many presses that took, or 0.
    int pressUntilInstalled() {
        for (int press = 1; press <= 3; ++press) {
            if (!scene().installerRunning()) scene().openInstaller();
            (void)scene().settledPicture();
            scene().pressButton();
            if (waitForInstalled()) return press;
        }
        return 0;
    }

    // The new copy at the target, the older one in the Trash once, and
    // nothing else of the installer's left anywhere. The Trash's contents,
    // for the matrix's report.
    std::string expectSettled() {
        EXPECT_TRUE(installedIntact());
        int olderCopies = 0;
        std::string trashed;
        for (auto& copy : home().trashedApplications()) {
            const std::string version = versionOf(copy);
            EXPECT_TRUE(version.starts_with("1.4.")) << "in the Trash, " << copy.filename() << " is " << version;
            if (version == "1.4.1") ++olderCopies;
            trashed += (trashed.empty() ? "" : ", ") + version;
        }
        EXPECT_EQ(olderCopies, 1) << "copies of 1.4.1 in the Trash; it holds:" << listed(namesIn(trash() / "files"));
        const auto orphans = trashOrphans(trash());
        EXPECT_TRUE(orphans.empty()) << "Trash entries without their other half:" << listed(orphans);
        EXPECT_TRUE(home().hiddenCopies().empty())
            << "hidden copies left in Applications:" << listed(home().hiddenCopies());
        EXPECT_TRUE(namesIn(records()).empty()) << "records left:" << listed(namesIn(records()));
        return "the Trash holds " + (trashed.empty() ? "nothing" : trashed);
    }
};

TEST_F(CrashMatrix, KilledRightAfterEachCallOfTheSwapOverAnOlderCopy) {
    stage::makeRelease({work() / "old", "1.4.1", 0, {"--keep-staging"}});
    const fs::path olderCopy = work() / "old/staging/Orbitreel.app";
    scene().serveRelease(scene().releaseImage());
    auto failures = [] {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    };

    int killPoints = -1;
    for (int nth = 1; nth <= MostKillPoints && killPoints < 0; ++nth) {
        SCOPED_TRACE("kill point " + std::to_string(nth));
        const int failuresBefore = failures();
        const fs::path report = work() / ("trap-report-" + std::to_string(nth) + ".txt");
        freshHome(nth, olderCopy);
        stage::TargetWatch watch(home().applications());

        stage::ChildProcess trap;
        ASSERT_TRUE(openUnderTrap(nth, report, trap)) << "the trap could not follow the installer:\n"
                                                      << stage::readWholeFile(report);
        scene().pressButton();
        // Killed, or through without the trap springing.
        stage::waitUntil(
            [&] {
                return !scene().installerRunning() || home().applicationStarts() > 0 || !home().errorEntries().empty();
            },
            Patience);
        const auto status = scene().waitForInstallerExit(1s);
        // A trap that sprang ends with the installer; one that ran out let go
        // of it before the install ended.
        if (status) (void)trap.waitFor(Patience);
        const std::string trapped = stage::readWholeFile(report);

        if (trapped.find(stage::TrapRanOut) != std::string::npos) {
            // Past the last kill point: an ordinary install, which ends the matrix.
            killPoints = nth - 1;
            std::cout << "kill point " << nth << ": none, the installer got through" << std::endl;
            EXPECT_TRUE(home().applicationStarts() > 0 && home().errorEntries().empty())
                << "the run past the last kill point did not install" << diagnosis();
            std::cout << "    " << expectSettled() << std::endl;
        } else {
            ASSERT_EQ(status, 128 + SIGKILL)
                << "the installer was not killed (the trap counts from its first syncfs); the trap reported:\n"
                << trapped << diagnosis();
            const std::string afterKill = versionOf(home().installedApp());
            std::cout << "kill point " << nth << ": right after " << inHome(reportedCall(trapped, nth))
                      << "\n    the target then held " << afterKill << std::endl;
            EXPECT_TRUE(afterKill.starts_with("1.4.")) << "after the kill, the target is " << afterKill;
            const int presses = pressUntilInstalled();
            EXPECT_GT(presses, 0) << "the rerun did not install" << diagnosis();
            std::cout << "    the rerun installed at press " << presses << ", " << expectSettled() << std::endl;
        }
        EXPECT_EQ(watch.absences(), 0) << "Orbitreel.app went away from Applications " << watch.absences()
                                       << " time(s) in the killed run and the rerun";
        if (failures() > failuresBefore) std::cerr << "---- the trap's report\n" << inHome(trapped);
        scene().installer().stop();
        stage::stopOrbitreel();
    }
    ASSERT_GE(killPoints, 0) << "the trap did not run out within " << MostKillPoints << " kill points";
    std::cout << "the swap had " << killPoints << " kill points" << std::endl;
    RecordProperty("KillPoints", killPoints);
}

}  // namespace
}  // namespace orbitreel::e2e
