// The install transaction with real stand-ins, images, processes and files.

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cctype>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <thread>

#include "core/texts.h"
#include "install/command.h"
#include "install/install.h"
#include "tests/install/install_fixture.h"
#include "tests/support/identity_of_path.h"
#include "tests/support/reachable_copy.h"

namespace orbitreel::test_support {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::vector<std::string>>;

constexpr uid_t Nobody = 65534;

std::string between(const std::string& text, const std::string& prefix, const std::string& suffix) {
    if (!text.starts_with(prefix) || !text.ends_with(suffix) || text.size() < prefix.size() + suffix.size()) return {};
    return text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
}

class InstallFlowTest : public InstallTest {
protected:
    void SetUp() override { cacheImage(DemoImages::shared().image()); }

    // The mount point and the staging copy as the recorded tool runs name them.
    Path mountPointUsed() const { return processes.runs.size() > 1 ? Path(processes.runs[1].back()) : Path(); }
};

TEST_F(InstallFlowTest, FirstInstallGoesToTheHomeApplicationsFolder) {
    const std::string imageBefore = readText(cachedImage());
    // A writable system folder without a copy does not attract the install.
    ASSERT_FALSE(fs::exists(homeApplications()));

    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(*installed, homeApplications() / "Orbitreel.app");

    // The tool runs, in order, with plain paths.
    const Path mountPoint = mountPointUsed();
    EXPECT_EQ(mountPoint.parent_path(), versionDirectory());
    EXPECT_TRUE(isUuid(between(mountPoint.filename().string(), "mount-", "")));
    ASSERT_EQ(processes.runs.size(), 6u);
    const std::string staging = processes.runs[3].back();
    EXPECT_EQ(Path(staging).parent_path(), homeApplications());
    EXPECT_TRUE(isUuid(between(Path(staging).filename().string(), ".Orbitreel-install-", ".app"))) << staging;
    const std::string image = cachedImage().string();
    const std::string source = (mountPoint / "Orbitreel.app").string();
    EXPECT_EQ(processes.runs,
              (Lines{{"hdiutil", "verify", image},
                     {"hdiutil", "attach", image, "-readonly", "-nobrowse", "-mountpoint", mountPoint.string()},
                     {"codesign", "--verify", "--deep", "--strict", source},
                     {"ditto", source, staging},
                     {"codesign", "--verify", "--deep", "--strict", staging},
                     {"hdiutil", "detach", mountPoint.string()}}));

    // The copy is whole and still signed; nothing else is left behind.
    EXPECT_TRUE(
        command(platform, platform.locations.codesign, {"--verify", "--deep", "--strict", installed->string()}));
    EXPECT_EQ(snapshot(*installed), snapshot(DemoImages::shared().signedApp()));
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});
    EXPECT_EQ(entries(versionDirectory()), std::vector<std::string>{"application.dmg"});
    EXPECT_TRUE(entries(systemFolder()).empty());
    EXPECT_TRUE(entries(trashFiles()).empty());
    EXPECT_EQ(readText(cachedImage()), imageBefore);
}

TEST_F(InstallFlowTest, HomeCopyIsReplacedAndItsBackupTrashed) {
    writePreviousCopy(homeApplications() / "Orbitreel.app", "previous");
    // Seen at every file operation: an application lies at the target throughout.
    std::vector<std::string> gaps;
    files.fault = [&](FileOperation operation, const Path& from, const Path&) -> std::optional<Error> {
        if (!files.exists(homeApplications() / "Orbitreel.app"))
            gaps.push_back(nameOf(operation) + (" " + from.string()));
        return std::nullopt;
    };

    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_TRUE(gaps.empty()) << "no application at the target before: " << gaps.front();
    EXPECT_EQ(*installed, homeApplications() / "Orbitreel.app");
    EXPECT_EQ(snapshot(*installed), snapshot(DemoImages::shared().signedApp()));
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});

    const auto trashed = entries(trashFiles());
    ASSERT_EQ(trashed.size(), 1u);
    const std::string backupUuid = between(trashed[0], ".Orbitreel-backup-", ".app");
    EXPECT_TRUE(isUuid(backupUuid)) << trashed[0];
    EXPECT_EQ(markerOf(trashFiles() / trashed[0]), "previous");

    // Three separate identifiers: mount point, staging copy, backup.
    const std::string mountUuid = between(mountPointUsed().filename().string(), "mount-", "");
    const std::string stagingUuid =
        between(Path(processes.runs[3].back()).filename().string(), ".Orbitreel-install-", ".app");
    EXPECT_NE(mountUuid, stagingUuid);
    EXPECT_NE(mountUuid, backupUuid);
    EXPECT_NE(stagingUuid, backupUuid);
}

TEST_F(InstallFlowTest, WritableSystemCopyIsReplacedInPlaceAndTheHomeCopyLeftAlone) {
    writePreviousCopy(systemFolder() / "Orbitreel.app", "system");
    writePreviousCopy(homeApplications() / "Orbitreel.app", "home");
    const auto homeBefore = snapshot(homeApplications());

    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(*installed, systemFolder() / "Orbitreel.app");
    EXPECT_EQ(snapshot(*installed), snapshot(DemoImages::shared().signedApp()));
    EXPECT_EQ(entries(systemFolder()), std::vector<std::string>{"Orbitreel.app"});
    EXPECT_EQ(snapshot(homeApplications()), homeBefore);
    const auto trashed = entries(trashFiles());
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_EQ(markerOf(trashFiles() / trashed[0]), "system");
}

// Root may write anything, so the user who may not runs in a child process.
class UnprivilegedInstallTest : public InstallFlowTest {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand the folders to an unprivileged user";
        InstallFlowTest::SetUp();
        // The user runs copies of the stand-ins it can reach, wherever the build lies.
        for (Path* tool : {&platform.locations.hdiutil, &platform.locations.codesign, &platform.locations.ditto})
            *tool = reachableCopy(*tool);
    }

    static void chownTree(const Path& top, uid_t owner) {
        ASSERT_EQ(::lchown(top.c_str(), owner, owner), 0) << top;
        for (const auto& item : fs::recursive_directory_iterator(top))
            ASSERT_EQ(::lchown(item.path().c_str(), owner, owner), 0) << item.path();
    }

    // The description of the error, or "installed at PATH".
    std::string installAsNobody() {
        chownTree(home(), Nobody);
        int channel[2];
        if (::pipe(channel) != 0) return "no pipe";
        std::fflush(nullptr);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(channel[0]);
            std::string outcome = "could not become nobody";
            if (::setgroups(0, nullptr) == 0 && ::setresgid(Nobody, Nobody, Nobody) == 0 &&
                ::setresuid(Nobody, Nobody, Nobody) == 0) {
                auto installed = runInstall();
                outcome = installed ? "installed at " + installed->string() : installed.error().localizedDescription();
            }
            (void)!::write(channel[1], outcome.data(), outcome.size());
            ::_exit(0);
        }
        ::close(channel[1]);
        std::string outcome;
        char buffer[512];
        for (ssize_t n; (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) outcome.append(buffer, n);
        ::close(channel[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        return outcome;
    }

    void expectRefusedWithNothingChanged() {
        const auto systemBefore = snapshot(systemFolder());
        const std::string imageBefore = readText(cachedImage());

        EXPECT_EQ(installAsNobody(), texts::NeedsAdmin);
        EXPECT_EQ(snapshot(systemFolder()), systemBefore);
        EXPECT_FALSE(fs::exists(homeApplications()));
        EXPECT_TRUE(mountFolders().empty()) << "the image is still attached";
        EXPECT_EQ(readText(cachedImage()), imageBefore);
    }
};

TEST_F(UnprivilegedInstallTest, SystemCopyTheUserMayNotWriteIsRefused) {
    writePreviousCopy(systemFolder() / "Orbitreel.app", "system");
    ASSERT_EQ(::chown(systemFolder().c_str(), Nobody, Nobody), 0);
    expectRefusedWithNothingChanged();
}

TEST_F(UnprivilegedInstallTest, SystemFolderTheUserMayNotWriteIsRefused) {
    writePreviousCopy(systemFolder() / "Orbitreel.app", "system");
    chownTree(systemFolder() / "Orbitreel.app", Nobody);
    expectRefusedWithNothingChanged();
}

TEST_F(InstallFlowTest, IdentityAndVersionAreCheckedBeforeAnySignature) {
    auto& images = DemoImages::shared();
    // Plist edits after signing break the signature too, which must not matter.
    const std::string plist = "Contents/Info.plist";
    struct Case {
        std::string name;
        Path image;
        std::string releaseVersion;
    };
    const std::vector<Case> cases{
        {"no Orbitreel.app", images.variant("no-app", {"--no-app"}), images.version()},
        {"identifier differs by case", images.variant("identifier", {"--bundle-id", "app.orbitreel.orbitreel"}),
         images.version()},
        {"version differs by case",
         images.variant("version-case", {"--version", "4.0-RC1", "--bundle-version", "4.0-rc1"}), "4.0-RC1"},
        {"version is not a text",
         images.variant("version-number", {"--version", "4", "--after-signing",
                                           "sed -i 's|<string>4</string>|<integer>4</integer>|' " + plist}),
         "4"},
        {"release version has a trailing blank", images.image(), images.version() + " "},
    };
    // A signature check would now fail to start instead of naming the version.
    platform.locations.codesign = root_.path() / "no codesign here";

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        release.version = c.releaseVersion;
        cacheImage(c.image);
        processes.runs.clear();
        auto installed = runInstall();
        ASSERT_FALSE(installed);
        EXPECT_EQ(installed.error(), Error(InstallError{texts::VersionMismatch}));
        EXPECT_EQ(processes.runs.size(), 3u);  // verify, attach, detach
        EXPECT_TRUE(mountFolders().empty());
        EXPECT_FALSE(fs::exists(homeApplications()));
    }
}

TEST_F(InstallFlowTest, TamperedApplicationFailsItsSignatureCheck) {
    const Path tampered = DemoImages::shared().variant("tampered", {"--tamper"});
    cacheImage(tampered);

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), Error(InstallError{texts::toolFailed()}));
    ASSERT_EQ(processes.runs.size(), 4u);
    EXPECT_EQ(processes.runs[2][0], "codesign");
    EXPECT_EQ(processes.runs[3][1], "detach");
    EXPECT_TRUE(mountFolders().empty());
    EXPECT_FALSE(fs::exists(homeApplications()));
}

TEST_F(InstallFlowTest, RunningOrbitreelIsRefusedWithoutCopying) {
    const Path runningCopy = root_.path() / "elsewhere/Orbitreel.app";
    fs::create_directories(runningCopy.parent_path());
    ASSERT_TRUE(runTool(platform.locations.ditto, {DemoImages::shared().signedApp().string(), runningCopy.string()}));
    std::promise<std::optional<Error>> opened;
    platform.workspace->openApplication({runningCopy, test_support::identityOfPath(runningCopy)},
                                        [&](std::optional<Error> error) { opened.set_value(error); });
    auto answer = opened.get_future();
    ASSERT_EQ(answer.wait_for(30s), std::future_status::ready);
    ASSERT_FALSE(answer.get());
    struct Stop {
        Path folder;
        ~Stop() { stopProcessesRunningFrom(folder); }
    } stop{runningCopy.parent_path()};
    bool seen = false;
    for (int i = 0; i < 500 && !seen; ++i) {
        seen = platform.runningApplications->countWithBundleIdentifier(TargetBundleId) > 0;
        if (!seen) std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(seen) << "the demo application never showed up as running";

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), Error(InstallError{texts::AppRunning}));
    ASSERT_EQ(processes.runs.size(), 4u);  // verify, attach, codesign, detach
    EXPECT_EQ(processes.runs[3][1], "detach");
    EXPECT_TRUE(mountFolders().empty());
    EXPECT_FALSE(fs::exists(homeApplications()));
    EXPECT_TRUE(fs::exists(cachedImage()));
}

// Renames that fail where the real file system will not fail on demand.
class FailedSwapTest : public InstallFlowTest {
protected:
    void failMoves(std::function<std::optional<Error>(const Path& from, const Path& to)> rule) {
        files.fault = [rule](FileOperation operation, const Path& from, const Path& to) -> std::optional<Error> {
            if (operation != FileOperation::move) return std::nullopt;
            return rule(from, to);
        };
    }
    static bool isStaging(const Path& p) { return p.filename().string().starts_with(".Orbitreel-install-"); }
    static bool isBackup(const Path& p) { return p.filename().string().starts_with(".Orbitreel-backup-"); }
    Path target() const { return homeApplications() / "Orbitreel.app"; }

    void expectCleanedUp() {
        EXPECT_TRUE(mountFolders().empty());
        EXPECT_TRUE(entries(trashFiles()).empty());
        for (const auto& name : entries(homeApplications()))
            EXPECT_FALSE(isStaging(name)) << "staging copy left: " << name;
    }
};

// A file system without an exchange: the previous copy steps aside by two
// renames and comes back when the second fails.
class RenameFallbackTest : public FailedSwapTest {
protected:
    void SetUp() override {
        FailedSwapTest::SetUp();
        files.exchangeUnsupported = true;
    }
};

TEST_F(RenameFallbackTest, ReplacesThePreviousCopyAndTrashesIt) {
    writePreviousCopy(target(), "previous");

    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(snapshot(target()), snapshot(DemoImages::shared().signedApp()));
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});
    const auto trashed = entries(trashFiles());
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_TRUE(isBackup(trashed[0])) << trashed[0];
    EXPECT_EQ(markerOf(trashFiles() / trashed[0]), "previous");
}

TEST_F(FailedSwapTest, FailedExchangeKeepsThePreviousCopyAtTheTarget) {
    writePreviousCopy(target(), "previous");
    const Error failure = FaultyFiles::injected("exchange");
    files.fault = [&](FileOperation operation, const Path&, const Path&) -> std::optional<Error> {
        if (operation == FileOperation::exchange) return failure;
        return std::nullopt;
    };

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), failure);
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});
    EXPECT_EQ(markerOf(target()), "previous");
    expectCleanedUp();
}

TEST_F(FailedSwapTest, PreviousCopyLeftUnderTheStagingNameIsNeverDeleted) {
    // After the exchange the previous copy lies under the staging name; it
    // cannot take the backup name, so it goes to the Trash from there.
    writePreviousCopy(target(), "previous");
    failMoves([](const Path& from, const Path&) {
        return isStaging(from) ? std::optional(FaultyFiles::injected("backup name")) : std::nullopt;
    });
    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(snapshot(target()), snapshot(DemoImages::shared().signedApp()));
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});
    auto trashed = entries(trashFiles());
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_TRUE(isStaging(trashed[0])) << trashed[0];
    EXPECT_EQ(markerOf(trashFiles() / trashed[0]), "previous");

    // When the Trash refuses it as well, it stays where it is.
    fs::remove_all(target());
    writePreviousCopy(target(), "second");
    files.fault = [](FileOperation operation, const Path& from, const Path&) -> std::optional<Error> {
        if ((operation == FileOperation::move && isStaging(from)) || operation == FileOperation::trash)
            return FaultyFiles::injected("refused");
        return std::nullopt;
    };
    installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(snapshot(target()), snapshot(DemoImages::shared().signedApp()));
    const auto left = entries(homeApplications());
    ASSERT_EQ(left.size(), 2u);
    EXPECT_TRUE(isStaging(left[0])) << left[0];
    EXPECT_EQ(markerOf(homeApplications() / left[0]), "second");
}

TEST_F(RenameFallbackTest, MovingThePreviousCopyAsideFails) {
    writePreviousCopy(target(), "previous");
    const Error failure = FaultyFiles::injected("aside");
    failMoves([&](const Path& from, const Path&) { return from == target() ? std::optional(failure) : std::nullopt; });

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), failure);
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});
    EXPECT_EQ(markerOf(target()), "previous");
    expectCleanedUp();
}

TEST_F(RenameFallbackTest, FinalRenameFailsAndThePreviousCopyComesBack) {
    writePreviousCopy(target(), "previous");
    const Error failure = FaultyFiles::injected("swap");
    failMoves([&](const Path& from, const Path&) { return isStaging(from) ? std::optional(failure) : std::nullopt; });

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), failure);
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});
    EXPECT_EQ(markerOf(target()), "previous");
    expectCleanedUp();
}

TEST_F(FailedSwapTest, FinalRenameFailsWithoutAPreviousCopy) {
    const Error failure = FaultyFiles::injected("swap");
    failMoves([&](const Path& from, const Path&) { return isStaging(from) ? std::optional(failure) : std::nullopt; });

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), failure);
    EXPECT_TRUE(entries(homeApplications()).empty());
    expectCleanedUp();
}

TEST_F(RenameFallbackTest, FailedRestoreKeepsThePreviousCopyUnderTheBackupName) {
    writePreviousCopy(target(), "previous");
    const Error swapFailure = FaultyFiles::injected("swap");
    failMoves([&](const Path& from, const Path&) -> std::optional<Error> {
        if (isStaging(from)) return swapFailure;
        if (isBackup(from)) return FaultyFiles::injected("restore");
        return std::nullopt;
    });

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), swapFailure);
    const auto left = entries(homeApplications());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(isUuid(between(left[0], ".Orbitreel-backup-", ".app"))) << left[0];
    EXPECT_EQ(markerOf(homeApplications() / left[0]), "previous");
    expectCleanedUp();
}

TEST_F(FailedSwapTest, ACopyReplacedAfterItsCheckIsNotSwappedIn) {
    writePreviousCopy(target(), "previous");
    // Someone who may write the folder renames the checked copy away and
    // puts an unchecked one of the person's own in its place.
    Path staging;
    processes.afterRun = [&](const std::vector<std::string>& line) {
        if (line[0] != "codesign" || !isStaging(line.back())) return;
        staging = line.back();
        const Path checked = staging.string() + "-checked";
        fs::rename(staging, checked);
        fs::copy(checked, staging, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    };

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error().localizedDescription(), texts::folderReplaced(staging.string()));
    EXPECT_EQ(markerOf(target()), "previous");
    EXPECT_FALSE(fs::exists(staging));
}

TEST_F(FailedSwapTest, BackupThatCannotBeTrashedStaysBesideTheNewCopy) {
    writePreviousCopy(target(), "previous");
    files.fault = [](FileOperation operation, const Path&, const Path&) -> std::optional<Error> {
        if (operation == FileOperation::trash) return FaultyFiles::injected("trash");
        return std::nullopt;
    };

    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(snapshot(target()), snapshot(DemoImages::shared().signedApp()));
    const auto left = entries(homeApplications());
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[1], "Orbitreel.app");
    EXPECT_EQ(markerOf(homeApplications() / left[0]), "previous");
    EXPECT_TRUE(mountFolders().empty());
}

// What killed runs leave behind, put right by the next install before it
// starts; names of other shapes are not touched.
class LeftoversTest : public InstallFlowTest {
protected:
    std::string uuid() { return services_.environment().newUuid(); }
    static std::string lowercase(std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }
    void attachImageAt(const Path& mountPoint) {
        fs::create_directories(mountPoint);
        ASSERT_TRUE(runTool(platform.locations.hdiutil, {"attach", cachedImage().string(), "-readonly", "-nobrowse",
                                                         "-mountpoint", mountPoint.string()}));
        ASSERT_FALSE(entries(mountPoint).empty());
    }
    // Renames `item` back and forth until its change time is past `than`'s.
    void changeLaterThan(const Path& item, const Path& than) {
        const Path aside = item.parent_path() / "aside";
        Files& real = services_.realFiles();
        auto later = [&] { return real.changeTime(item).value() > real.changeTime(than).value(); };
        for (int i = 0; i < 1000000 && !later(); ++i) {
            fs::rename(item, aside);
            fs::rename(aside, item);
        }
        ASSERT_TRUE(later());
    }
};

TEST_F(LeftoversTest, KilledRunsLeaveNothingBehindAndThePersonsCopyComesBack) {
    // Two backups and no target in the system folder: the newer comes back,
    // which draws the install there. Their names sort the other way round.
    const Path older = systemFolder() / ".Orbitreel-backup-FFFFFFFF-FFFF-4FFF-BFFF-FFFFFFFFFFFF.app";
    const Path newer = systemFolder() / ".Orbitreel-backup-00000000-0000-4000-8000-000000000000.app";
    writePreviousCopy(older, "older");
    writePreviousCopy(newer, "newer");
    changeLaterThan(newer, older);
    // Half-made copies, one with folders nobody may write, as a copy of the image can have.
    const Path staging = homeApplications() / (".Orbitreel-install-" + uuid() + ".app");
    writePreviousCopy(staging, "half");
    fs::permissions(staging / "Contents/Resources", static_cast<fs::perms>(0555));
    fs::permissions(staging / "Contents", static_cast<fs::perms>(0555));
    const Path systemStaging = systemFolder() / (".Orbitreel-install-" + uuid() + ".app");
    writeText(systemStaging / "Contents/Info.plist", "half");
    // An image still attached, and an empty mount folder from a failed verify.
    const Path filled = versionDirectory() / ("mount-" + uuid());
    attachImageAt(filled);
    const Path empty = versionDirectory() / ("mount-" + uuid());
    fs::create_directories(empty);

    const Path attachedNearMiss = versionDirectory() / ("mount-" + lowercase(uuid()));
    attachImageAt(attachedNearMiss);
    const std::vector<Path> nearMisses{
        attachedNearMiss,
        homeApplications() / (".Orbitreel-install-" + lowercase(uuid()) + ".app"),
        homeApplications() / (".Orbitreel-install-" + uuid() + ".app.old"),
        homeApplications() / (".orbitreel-install-" + uuid() + ".app"),
        systemFolder() / (".Orbitreel-backup-" + uuid().substr(1) + ".app"),
        systemFolder() / (".Orbitreel-backup-" + uuid().replace(8, 1, "_") + ".app"),
        versionDirectory() / ("mount-" + uuid() + "-1"),
    };
    std::map<Path, std::map<std::string, std::string>> before;
    for (const auto& item : nearMisses) {
        if (!fs::exists(item)) writeText(item / "Contents/Info.plist", "keep");
        before[item] = snapshot(item);
    }

    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(*installed, systemFolder() / "Orbitreel.app");
    EXPECT_EQ(snapshot(*installed), snapshot(DemoImages::shared().signedApp()));
    ASSERT_EQ(processes.runs.size(), 7u);
    EXPECT_EQ(processes.runs[0], (std::vector<std::string>{"hdiutil", "detach", filled.string()}));

    // The restored copy was replaced by this run, so it went to the Trash
    // under this run's backup name; the older went there as it was.
    std::map<std::string, std::string> trashedMarkers;
    for (const auto& name : entries(trashFiles())) trashedMarkers[markerOf(trashFiles() / name)] = name;
    EXPECT_EQ(trashedMarkers.size(), 2u);
    EXPECT_EQ(trashedMarkers["older"], older.filename().string());
    EXPECT_TRUE(isUuid(between(trashedMarkers["newer"], ".Orbitreel-backup-", ".app")));
    EXPECT_NE(trashedMarkers["newer"], newer.filename().string());

    EXPECT_FALSE(fs::exists(staging));
    EXPECT_FALSE(fs::exists(systemStaging));
    EXPECT_FALSE(fs::exists(filled));
    EXPECT_TRUE(fs::is_directory(empty));
    for (const auto& item : nearMisses) EXPECT_EQ(snapshot(item), before[item]) << item;
    EXPECT_FALSE(fs::exists(homeApplications() / "Orbitreel.app"));
}

TEST_F(LeftoversTest, ThePersonsCopyComesBackEvenWhenTheInstallFails) {
    const Path backup = homeApplications() / (".Orbitreel-backup-" + uuid() + ".app");
    writePreviousCopy(backup, "previous");
    writeText(cachedImage(), "not an image");

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), Error(InstallError{texts::toolFailed()}));
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});
    EXPECT_EQ(markerOf(homeApplications() / "Orbitreel.app"), "previous");
    EXPECT_TRUE(entries(trashFiles()).empty());
}

TEST_F(LeftoversTest, OnlyThePersonsOwnFoldersOfTheHiddenShapesAreRecovered) {
    if (::geteuid() != 0) GTEST_SKIP() << "planting another user's folders needs root";
    // In the shared folder, with no copy there: another user's backup and
    // staging copy, and links of both shapes into the person's home.
    const Path theirBackup = systemFolder() / (".Orbitreel-backup-" + uuid() + ".app");
    const Path theirStaging = systemFolder() / (".Orbitreel-install-" + uuid() + ".app");
    writePreviousCopy(theirBackup, "theirs");
    writePreviousCopy(theirStaging, "theirs");
    for (const Path& item : {theirBackup, theirStaging}) {
        for (const auto& inside : fs::recursive_directory_iterator(item))
            ASSERT_EQ(::lchown(inside.path().c_str(), Nobody, Nobody), 0);
        ASSERT_EQ(::lchown(item.c_str(), Nobody, Nobody), 0);
    }
    const Path personal = home() / "Documents";
    writeText(personal / "notes", "mine");
    fs::permissions(personal, static_cast<fs::perms>(0500));
    const Path backupLink = systemFolder() / (".Orbitreel-backup-" + uuid() + ".app");
    const Path stagingLink = systemFolder() / (".Orbitreel-install-" + uuid() + ".app");
    fs::create_directory_symlink(personal, backupLink);
    fs::create_directory_symlink(personal, stagingLink);
    const auto shared = snapshot(systemFolder());
    // The person's own backup in their home folder still comes back.
    writePreviousCopy(homeApplications() / (".Orbitreel-backup-" + uuid() + ".app"), "mine");
    writeText(cachedImage(), "not an image");

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(snapshot(systemFolder()), shared);
    for (const Path& item : {theirBackup, theirStaging}) {
        struct stat info {};
        ASSERT_EQ(::lstat(item.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, Nobody) << item;
    }
    EXPECT_EQ(fs::status(personal).permissions(), static_cast<fs::perms>(0500));
    EXPECT_EQ(markerOf(homeApplications() / "Orbitreel.app"), "mine");
    EXPECT_TRUE(entries(trashFiles()).empty());
}

TEST_F(InstallFlowTest, FailedVerifyLeavesAnEmptyMountFolderThatALaterRunDoesNotReuse) {
    const std::string good = readText(cachedImage());
    writeText(cachedImage(), good.substr(0, good.size() / 2));

    auto broken = runInstall();
    ASSERT_FALSE(broken);
    EXPECT_EQ(broken.error(), Error(InstallError{texts::toolFailed()}));
    EXPECT_EQ(processes.runs.size(), 1u);
    const auto left = mountFolders();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(entries(versionDirectory() / left[0]).empty());

    writeText(cachedImage(), good);
    processes.runs.clear();
    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_NE(mountPointUsed().filename().string(), left[0]);
    EXPECT_EQ(mountFolders(), left);
    EXPECT_TRUE(entries(versionDirectory() / left[0]).empty());
}

}  // namespace
}  // namespace orbitreel::test_support
