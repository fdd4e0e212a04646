// The install transaction with real stand-ins, images, processes and files.

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <thread>

#include "core/texts.h"
#include "install/command.h"
#include "core/cache_paths.h"
#include "install/install.h"
#include "install/run_record.h"
#include "tests/install/install_fixture.h"
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

    // The tool runs, in order; the copy is reached through the installer's
    // descriptor on its private folder.
    const Path mountPoint = mountPointUsed();
    EXPECT_EQ(mountPoint.parent_path(), versionDirectory());
    EXPECT_TRUE(isUuid(between(mountPoint.filename().string(), "mount-", "")));
    ASSERT_EQ(processes.runs.size(), 6u);
    const std::string staging = processes.runs[3].back();
    EXPECT_TRUE(staging.starts_with("/proc/")) << staging;
    EXPECT_EQ(Path(staging).filename(), "Orbitreel.app");
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
    platform.workspace->openApplication({runningCopy, {}}, [&](std::optional<Error> error) { opened.set_value(error); });
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
    // An entry of the run's private folder, as its operations name it.
    static bool isInside(const Path& p, const std::string& name) {
        return p.filename() == name && isStaging(p.parent_path());
    }
    static bool isNewCopy(const Path& p) { return isInside(p, "Orbitreel.app"); }
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

TEST_F(FailedSwapTest, APreviousCopyThatCanGoNowhereWaitsForTheNextRun) {
    // After the exchange the previous copy lies in the run's private folder.
    // When neither the Trash nor the backup name takes it, it stays there,
    // recorded, and the next run sends it to the Trash; it is never deleted.
    writePreviousCopy(target(), "previous");
    files.fault = [](FileOperation operation, const Path& from, const Path&) -> std::optional<Error> {
        if (operation == FileOperation::trash || (operation == FileOperation::move && isStaging(from.parent_path())))
            return FaultyFiles::injected("refused");
        return std::nullopt;
    };
    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(snapshot(target()), snapshot(DemoImages::shared().signedApp()));
    const auto left = entries(homeApplications());
    ASSERT_EQ(left.size(), 2u);
    ASSERT_TRUE(isStaging(left[0])) << left[0];
    EXPECT_EQ(markerOf(homeApplications() / left[0] / "Orbitreel.app"), "previous");

    files.fault = nullptr;
    installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});
    // This run's own previous copy, the first run's new one, went there too.
    const auto trashed = entries(trashFiles());
    EXPECT_EQ(trashed.size(), 2u);
    EXPECT_EQ(std::ranges::count_if(trashed,
                                    [&](const std::string& name) {
                                        return fs::exists(trashFiles() / name / "Contents/Resources/marker") &&
                                               markerOf(trashFiles() / name) == "previous";
                                    }),
              1);
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
    failMoves([&](const Path& from, const Path&) { return isNewCopy(from) ? std::optional(failure) : std::nullopt; });

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), failure);
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});
    EXPECT_EQ(markerOf(target()), "previous");
    expectCleanedUp();
}

TEST_F(FailedSwapTest, FinalRenameFailsWithoutAPreviousCopy) {
    const Error failure = FaultyFiles::injected("swap");
    failMoves([&](const Path& from, const Path&) { return isNewCopy(from) ? std::optional(failure) : std::nullopt; });

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), failure);
    EXPECT_TRUE(entries(homeApplications()).empty());
    expectCleanedUp();
}

TEST_F(RenameFallbackTest, FailedRestoreKeepsThePreviousCopyUnderTheBackupName) {
    writePreviousCopy(target(), "previous");
    const Error swapFailure = FaultyFiles::injected("swap");
    failMoves([&](const Path& from, const Path& to) -> std::optional<Error> {
        if (isNewCopy(from)) return swapFailure;
        if (isInside(from, "Previous.app") && to == target()) return FaultyFiles::injected("restore");
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

TEST_F(FailedSwapTest, AFolderPutAtTheCopysNameAfterItsCheckIsNeitherSwappedInNorRemoved) {
    writePreviousCopy(target(), "previous");
    // Someone who may write the folder renames the run's private folder away
    // once its copy is checked, and puts another of the person's folders at
    // its name.
    Path privateFolder;
    processes.afterRun = [&](const std::vector<std::string>& line) {
        if (line[0] != "codesign" || privateFolder != Path()) return;
        for (const auto& name : entries(homeApplications()))
            if (isStaging(name)) privateFolder = homeApplications() / name;
        if (privateFolder == Path()) return;
        fs::rename(privateFolder, homeApplications() / "moved");
        writePreviousCopy(privateFolder / "Orbitreel.app", "mine");
    };

    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(snapshot(target()), snapshot(DemoImages::shared().signedApp()));
    EXPECT_EQ(markerOf(privateFolder / "Orbitreel.app"), "mine");
    EXPECT_FALSE(fs::exists(homeApplications() / "moved"));
    const auto trashed = entries(trashFiles());
    ASSERT_EQ(trashed.size(), 1u);
    EXPECT_EQ(markerOf(trashFiles() / trashed[0]), "previous");
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
// starts, by their records; nothing that no record names is touched.
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

    // A run killed in `folder` as the installer leaves it: its private
    // folder, recorded, holding `inside` (name and marker: the new copy,
    // half-made, is "Orbitreel.app" with the marker "new"; the previous copy
    // any other), and the copy at the target, if any.
    struct KilledRun {
        std::string uuid;
        Path privateFolder;
    };
    KilledRun killedRun(const Path& folder, const std::vector<std::pair<std::string, std::string>>& inside,
                        const std::string& atTarget = {}) {
        Files& real = services_.realFiles();
        RunRecord record;
        record.uuid = uuid();
        record.destination = folder;
        fs::create_directories(folder);
        const Path privateFolder = folder / (".Orbitreel-install-" + record.uuid);
        auto made = real.makePrivateFolder(privateFolder);
        EXPECT_TRUE(made);
        record.folder = (*made)->identity();
        record.staging = *(*made)->makeFolder("Orbitreel.app");
        writePreviousCopy(privateFolder / "Orbitreel.app", "new");
        for (const auto& [name, marker] : inside) {
            if (name == "Orbitreel.app" && marker == "new") continue;
            if (name == "Orbitreel.app") fs::rename(privateFolder / name, folder / "Orbitreel.app");
            writePreviousCopy(privateFolder / name, marker);
            record.previous = *real.identityAt(privateFolder / name);
        }
        if (!atTarget.empty() && !fs::exists(folder / "Orbitreel.app")) writePreviousCopy(folder / "Orbitreel.app", atTarget);
        EXPECT_TRUE(real.writePrivately(recordFile(home(), record.uuid), asBytes(formatRecord(record))));
        return {record.uuid, privateFolder};
    }
    std::vector<std::string> trashInfos() const { return entries(home() / ".local/share/Trash/info"); }
};

TEST_F(LeftoversTest, KilledRunsAreSettledByTheirRecordsAndNothingElseIsTouched) {
    // Killed while copying: the half-made copy goes.
    const auto copying = killedRun(homeApplications(), {{"Orbitreel.app", "new"}});
    fs::permissions(copying.privateFolder / "Orbitreel.app/Contents", static_cast<fs::perms>(0555));
    // Killed right after the exchange in the system folder: the new copy is
    // in place, the previous one in the private folder goes to the Trash,
    // and a record in the Trash that lost its item to the kill is replaced.
    const auto exchanged = killedRun(systemFolder(), {{"Orbitreel.app", "previous"}});
    const Path orphanInfo =
        home() / ".local/share/Trash/info" / (".Orbitreel-backup-" + exchanged.uuid + ".app.trashinfo");
    writeText(orphanInfo, "[Trash Info]\nPath=/nowhere\nDeletionDate=2026-01-01T00:00:00\n");

    // Leftovers without a record, the person's own included: an older
    // installer's, or look-alikes. And mount folders, as before.
    std::vector<Path> unrecorded{
        homeApplications() / (".Orbitreel-backup-" + uuid() + ".app"),
        homeApplications() / (".Orbitreel-install-" + uuid() + ".app"),
        systemFolder() / (".Orbitreel-install-" + uuid()),
        homeApplications() / (".Orbitreel-install-" + lowercase(uuid()) + ".app"),
    };
    for (const auto& item : unrecorded) writePreviousCopy(item, "unrecorded");
    std::map<Path, std::map<std::string, std::string>> before;
    for (const auto& item : unrecorded) before[item] = snapshot(item);
    const Path filled = versionDirectory() / ("mount-" + uuid());
    attachImageAt(filled);
    const Path empty = versionDirectory() / ("mount-" + uuid());
    fs::create_directories(empty);
    const Path attachedNearMiss = versionDirectory() / ("mount-" + lowercase(uuid()));
    attachImageAt(attachedNearMiss);
    const auto nearMissBefore = snapshot(attachedNearMiss);

    auto installed = runInstall();
    ASSERT_TRUE(installed) << installed.error().localizedDescription();
    EXPECT_EQ(*installed, systemFolder() / "Orbitreel.app");
    EXPECT_EQ(processes.runs[0], (std::vector<std::string>{"hdiutil", "detach", filled.string()}));

    EXPECT_FALSE(fs::exists(copying.privateFolder));
    EXPECT_FALSE(fs::exists(exchanged.privateFolder));
    EXPECT_TRUE(entries(recordsDirectory(home())).empty());
    // The killed run's previous copy, then the copy it had put in place,
    // which this run replaced: each in the Trash with its record.
    std::map<std::string, int> trashedMarkers;
    for (const auto& name : entries(trashFiles())) ++trashedMarkers[markerOf(trashFiles() / name)];
    EXPECT_EQ(trashedMarkers, (std::map<std::string, int>{{"new", 1}, {"previous", 1}}));
    EXPECT_EQ(trashInfos().size(), 2u);
    EXPECT_NE(readText(orphanInfo).find("Path="), std::string::npos);
    EXPECT_EQ(readText(orphanInfo).find("/nowhere"), std::string::npos);

    for (const auto& item : unrecorded) EXPECT_EQ(snapshot(item), before[item]) << item;
    EXPECT_FALSE(fs::exists(filled));
    EXPECT_TRUE(fs::is_directory(empty));
    EXPECT_EQ(snapshot(attachedNearMiss), nearMissBefore);
    const std::string log = readText(home() / "Library/Logs/OrbitreelInstaller.log");
    EXPECT_NE(log.find("no record of ours"), std::string::npos) << log;
}

TEST_F(LeftoversTest, ThePersonsCopyComesBackEvenWhenTheInstallFails) {
    // Killed between the two renames of a file system without an exchange:
    // the target is empty, the previous copy waits in the private folder.
    const auto aside = killedRun(homeApplications(), {{"Previous.app", "previous"}});
    writeText(cachedImage(), "not an image");

    auto installed = runInstall();
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), Error(InstallError{texts::toolFailed()}));
    EXPECT_EQ(entries(homeApplications()), std::vector<std::string>{"Orbitreel.app"});
    EXPECT_EQ(markerOf(homeApplications() / "Orbitreel.app"), "previous");
    EXPECT_TRUE(entries(trashFiles()).empty());
}

TEST_F(LeftoversTest, ARecordedNameHoldingAnotherFolderIsLeftAlone) {
    // The recorded private folder was renamed, and another folder of the
    // person's put at its name: the recorded one is found by identity and
    // settled, the other stays as it was.
    const auto killed = killedRun(systemFolder(), {{"Orbitreel.app", "new"}});
    fs::rename(killed.privateFolder, systemFolder() / "renamed");
    writePreviousCopy(killed.privateFolder / "Orbitreel.app", "mine");
    fs::permissions(killed.privateFolder, static_cast<fs::perms>(0700));
    const auto mine = snapshot(killed.privateFolder);
    writeText(cachedImage(), "not an image");

    ASSERT_FALSE(runInstall());
    EXPECT_EQ(snapshot(killed.privateFolder), mine);
    EXPECT_FALSE(fs::exists(systemFolder() / "renamed"));
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
