// Two people on one machine who share the system Applications folder (root's,
// writable by a group both belong to, no sticky bit): the person installs
// while the neighbour plants look-alikes of the installer's hidden copies and
// races every walk into them.

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "core/identity.h"
#include "stage/bundle_check.h"
#include "stage/sandbox.h"
#include "stage/shared_machine.h"
#include "tests/e2e/accessibility_bus.h"
#include "tests/e2e/e2e_fixture.h"

namespace orbitreel::e2e {
namespace {

using stage::Neighbour;
using stage::Person;

class SharedMachine : public EndToEnd {
protected:
    void SetUp() override {
        EndToEnd::SetUp();
        if (IsSkipped()) return;
        // Users exist here by number only; a user namespace maps just one.
        const fs::path probe = work() / "probe";
        std::ofstream(probe).flush();
        if (::geteuid() != 0 || ::lchown(probe.c_str(), Neighbour.uid, Neighbour.gid) != 0)
            GTEST_SKIP() << "two more users need root outside a user namespace: " << std::strerror(errno);
        stage::shareSystemApplications();
        stage::SceneOptions options;
        options.user = Person;
        makeScene(options);
    }
    virtual void makeScene(const stage::SceneOptions& options) { scene(options); }

    // A file of the person's own in their home.
    void writePersonal(const fs::path& relative, const std::string& text, fs::perms mode = fs::perms(0644)) {
        const fs::path file = home().home() / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
        fs::permissions(file, mode);
        stage::handOver(home().home(), Person);
    }

    // A bundle-shaped folder: `marker` in Contents/Resources/marker, an
    // Info.plist naming `identifier` when one is given, and folders nobody
    // may write, as a copy of a read-only image has them.
    static void writeCopy(const fs::path& bundle, const std::string& marker, const stage::UserIdentity& owner,
                          const std::string& identifier = {}) {
        fs::create_directories(bundle / "Contents/Resources");
        if (!identifier.empty()) stage::writeInfoPlist(bundle, identifier);
        std::ofstream(bundle / "Contents/Resources/marker") << marker;
        fs::permissions(bundle / "Contents/Resources", fs::perms(0555));
        fs::permissions(bundle / "Contents", fs::perms(0555));
        stage::handOver(bundle, owner);
    }
    static std::string markerOf(const fs::path& bundle) {
        return stage::readWholeFile(bundle / "Contents/Resources/marker");
    }

    // A copy of Orbitreel the person has in the system folder, which draws
    // the install there.
    static const inline fs::path SystemCopy = "/Applications/Orbitreel.app";
    static void writeSystemCopy() { writeCopy(SystemCopy, "previous", Person, TargetBundleId); }

    // Where the previous copy may be after an install that replaced it: the
    // person's own Trash, or in /Applications under its hidden backup name.
    static std::vector<fs::path> previousCopies(const stage::HomeView& home) {
        std::vector<fs::path> found = home.trashedApplications();
        for (const auto& entry : fs::directory_iterator("/Applications")) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with(".Orbitreel-backup-") && name.ends_with(".app")) found.push_back(entry.path());
        }
        return found;
    }

    // The neighbour program in one of its modes; it stops with the test.
    void startNeighbour(const std::vector<std::string>& arguments) {
        neighbourOutput_ = work() / "neighbour.txt";
        neighbour_ = stage::startNeighbourWith(E2E_NEIGHBOUR, arguments, neighbourOutput_);
    }
    std::string neighbourSaid() const { return stage::readWholeFile(neighbourOutput_); }
    void stopNeighbour() { neighbour_.stop(); }

    // Installs, and waits until Orbitreel started or the installer failed.
    bool install() {
        scene().serveRelease(scene().releaseImage());
        openAndPress();
        return waitForInstalled();
    }

    // The hidden copies in /Applications that are the person's own.
    static std::vector<fs::path> ownHiddenCopies() {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator("/Applications")) {
            struct stat st {};
            const std::string name = entry.path().filename().string();
            if (name.starts_with(".Orbitreel-") && ::lstat(entry.path().c_str(), &st) == 0 && st.st_uid == Person.uid)
                found.push_back(entry.path());
        }
        return found;
    }

private:
    fs::path neighbourOutput_;
    stage::ChildProcess neighbour_;
};

// Every item that was there before is as it was: mode, owner and content.
::testing::AssertionResult unchanged(const std::map<std::string, std::string>& before,
                                     const std::map<std::string, std::string>& after) {
    for (const auto& [item, description] : before) {
        auto now = after.find(item);
        const std::string seen = now == after.end() ? "gone" : now->second;
        if (seen != description)
            return ::testing::AssertionFailure() << item << " was " << description << ", is " << seen;
    }
    return ::testing::AssertionSuccess();
}

TEST_F(SharedMachine, TheNeighbourNeitherStopsNorSteersTheInstall) {
    const fs::path personHome = home().home();
    writePersonal(".bashrc", "mine");
    writePersonal(".ssh/id", "secret", fs::perms(0600));
    writePersonal("Documents/notes", "notes");
    fs::permissions(personHome / "Documents", fs::perms(0500));

    // The neighbour's look-alikes: a read-only backup (put back at an empty
    // target, it would send the install there and fail it), a writable one (it would go to the person's Trash), a staging copy, and
    // links of both shapes to the person's home.
    const fs::path apps = "/Applications";
    std::vector<fs::path> theirs;
    for (const char* prefix : {".Orbitreel-backup-", ".Orbitreel-backup-", ".Orbitreel-install-"})
        theirs.push_back(apps / stage::hiddenCopyName(prefix));
    writeCopy(theirs[0], "theirs, read-only", Neighbour);
    writeCopy(theirs[1], "theirs, writable", Neighbour);
    fs::permissions(theirs[1] / "Contents", fs::perms(0775));
    fs::permissions(theirs[1], fs::perms(0775));
    writeCopy(theirs[2], "theirs, half-made", Neighbour);
    for (const char* prefix : {".Orbitreel-backup-", ".Orbitreel-install-"}) {
        theirs.push_back(apps / stage::hiddenCopyName(prefix));
        fs::create_directory_symlink(personHome, theirs.back());
        stage::handOver(theirs.back(), Neighbour);
    }
    std::map<fs::path, std::map<std::string, std::string>> theirsBefore;
    for (const auto& item : theirs) theirsBefore[item] = stage::itemsWithOwners(item);

    // The person's own leftovers beside them, as an older installer that
    // kept no record of them left them: nothing tells them from the
    // person's other folders renamed, so they stay where they are. The
    // person's copy in the system folder draws the install here.
    const fs::path ownBackup = apps / stage::hiddenCopyName(".Orbitreel-backup-");
    const fs::path ownStaging = apps / stage::hiddenCopyName(".Orbitreel-install-");
    writeCopy(ownBackup, "an older backup", Person);
    writeCopy(ownStaging, "half-made", Person);
    writeSystemCopy();
    std::map<fs::path, std::map<std::string, std::string>> leftBefore;
    for (const auto& item : {ownBackup, ownStaging}) leftBefore[item] = stage::itemsWithOwners(item);

    // And the race: chains of the neighbour's and of the person's own, the
    // neighbour swapping each deepest folder for a link to the home as soon
    // as anyone opens it, for the whole run.
    const auto raced = stage::plantRaces(personHome, 8, 900, 2, 60);
    const fs::path neighbourOutput = work() / "neighbour.txt";
    auto neighbour = stage::startNeighbour(E2E_NEIGHBOUR, raced, neighbourOutput);

    const auto homeBefore = stage::itemsWithOwners(personHome);
    scene().serveRelease(scene().releaseImage());
    openAndPress();
    ASSERT_TRUE(stage::waitUntil([&] { return home().applicationStarts() > 0; }, Patience)) << diagnosis();
    neighbour.stop();

    EXPECT_TRUE(unchanged(homeBefore, stage::itemsWithOwners(personHome)));
    for (const auto& item : theirs) EXPECT_EQ(stage::itemsWithOwners(item), theirsBefore[item]) << item;
    for (const auto& item : {ownBackup, ownStaging})
        EXPECT_EQ(stage::itemsWithOwners(item), leftBefore[item]) << item << " was not left where it was";
    // Installed in place of the person's copy, which went to their Trash.
    const fs::path installed = apps / "Orbitreel.app";
    EXPECT_EQ(stage::bundleProblem(installed, scene().release().version), "");
    struct stat st {};
    ASSERT_EQ(::lstat(installed.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, Person.uid);
    const auto trashed = home().trashedApplications();
    ASSERT_EQ(trashed.size(), 1u) << diagnosis();
    EXPECT_EQ(markerOf(trashed[0]), "previous");
    // Of the person's hidden items, only those that were there before are
    // left: the leftovers and the chains of their own.
    for (const auto& left : ownHiddenCopies())
        EXPECT_TRUE(left == ownBackup || left == ownStaging || std::ranges::any_of(raced, [&](const fs::path& r) {
                        return r.string().starts_with(left.string() + "/");
                    }))
            << left;
    std::cerr << "neighbour bursts: " << stage::neighbourBursts(neighbourOutput) << "\n";
}

// The system folder is a volume of its own, so the previous copy can reach
// a Trash only at its top; one there that the neighbour planted must never
// take it, nor lead it into the person's files.
class SharedMachineTrash : public SharedMachine {
protected:
    void expectNeverUsed(const fs::path& planted, const fs::path& leadsTo) {
        writeSystemCopy();
        const auto plantedBefore = stage::itemsWithOwners(planted);
        const auto leadsToBefore = stage::itemsWithOwners(leadsTo);

        ASSERT_TRUE(install()) << diagnosis();
        EXPECT_EQ(stage::itemsWithOwners(planted), plantedBefore);
        EXPECT_EQ(stage::itemsWithOwners(leadsTo), leadsToBefore) << "something went into " << leadsTo;
        EXPECT_EQ(stage::bundleProblem(SystemCopy, scene().release().version), "");
        // The previous copy is in a Trash of the person's own, or stays
        // beside the new one under its hidden name.
        const auto previous = previousCopies(home());
        ASSERT_EQ(previous.size(), 1u) << diagnosis();
        EXPECT_EQ(markerOf(previous[0]), "previous");
    }
};

TEST_F(SharedMachineTrash, AFolderOfTheNeighboursAtTheTrashsName) {
    const fs::path planted = "/Applications/.Trash-" + std::to_string(Person.uid);
    for (const char* folder : {"", "files", "info"}) fs::create_directories(planted / folder);
    for (const char* folder : {"", "files", "info"}) fs::permissions(planted / folder, fs::perms(0777));
    stage::handOver(planted, Neighbour);
    expectNeverUsed(planted, planted);
}

TEST_F(SharedMachineTrash, ALinkToAFolderOfThePersonsAtTheTrashsName) {
    writePersonal("Documents/notes", "notes");
    const fs::path documents = home().home() / "Documents";
    fs::permissions(documents, fs::perms(0700));
    const fs::path planted = "/Applications/.Trash-" + std::to_string(Person.uid);
    fs::create_directory_symlink(documents, planted);
    stage::handOver(planted, Neighbour);
    expectNeverUsed(planted, documents);
}

// The neighbour may rename any entry of the shared folder, also the
// person's: a folder of theirs under a name of the installer's shapes is
// still theirs, whatever an older installer would have done with it.
TEST_F(SharedMachine, ThePersonsFoldersRenamedIntoHiddenShapesStayTheirs) {
    std::map<fs::path, std::map<std::string, std::string>> before;
    int n = 0;
    for (const auto& name : {stage::hiddenCopyName(".Orbitreel-install-"), stage::hiddenCopyName(".Orbitreel-backup-"),
                             stage::hiddenCopyName(".Orbitreel-install-", "")}) {
        const fs::path folder = fs::path("/Applications") / ("Notes-" + std::to_string(++n) + ".app");
        writeCopy(folder, "notes " + std::to_string(n), Person);
        const fs::path renamed = folder.parent_path() / name;
        fs::rename(folder, renamed);  // as the neighbour may
        before[renamed] = stage::itemsWithOwners(renamed);
    }

    ASSERT_TRUE(install()) << diagnosis();
    EXPECT_TRUE(installedIntact());
    for (const auto& [folder, items] : before) EXPECT_EQ(stage::itemsWithOwners(folder), items) << folder;
    EXPECT_TRUE(home().trashedApplications().empty());
}

// The neighbour puts the person's other folder at the private staging
// folder's name while the copy is made and checked, once or back and forth.
class SharedMachineStaging : public SharedMachine {
protected:
    void expectNothingLost(const std::string& how) {
        writeSystemCopy();
        const fs::path notes = "/Applications/Notes.app";
        writeCopy(notes, "notes", Person);
        const auto notesBefore = stage::itemsWithOwners(notes);
        const auto notesItem = stage::identityOf(notes);
        const auto previousItem = stage::identityOf(SystemCopy);
        startNeighbour({"--swap-staging", "/Applications", "Notes.app", how});

        const bool installed = install();
        // Swapping back and forth goes on while both names are there (a
        // staging folder the installer could not take away stays, empty,
        // for the next run): stopped, it holds still for the look.
        stopNeighbour();
        std::cerr << "the neighbour: " << neighbourSaid();
        const fs::path notesNow = stage::whereIs(notesItem, {"/Applications"});
        ASSERT_FALSE(notesNow.empty()) << "Notes.app is gone\n" << diagnosis();
        EXPECT_TRUE(unchanged(notesBefore, stage::itemsWithOwners(notesNow))) << notesNow;
        if (installed) {
            EXPECT_EQ(stage::bundleProblem(SystemCopy, scene().release().version), "");
            const auto previous = previousCopies(home());
            ASSERT_EQ(previous.size(), 1u) << diagnosis();
            EXPECT_EQ(stage::identityOf(previous[0]), previousItem);
        } else {
            // Failed cleanly: said so, and the person's copy is where it was.
            EXPECT_FALSE(home().errorEntries().empty()) << diagnosis();
            EXPECT_TRUE(scene().installerRunning());
            EXPECT_EQ(stage::identityOf(SystemCopy), previousItem);
            EXPECT_EQ(markerOf(SystemCopy), "previous");
        }
    }
};

TEST_F(SharedMachineStaging, Once) { expectNothingLost("once"); }
TEST_F(SharedMachineStaging, BackAndForth) { expectNothingLost("repeatedly"); }

// Only the person's own Orbitreel in the system folder draws the install
// there; anything else at its name is left as it is and the install goes to
// the home folder.
class SharedMachineTarget : public SharedMachine {
protected:
    void expectInstalledAtHome(const fs::path& leadsTo = {}) {
        const auto before = stage::itemsWithOwners(SystemCopy);
        const auto leadsToBefore = stage::itemsWithOwners(leadsTo.empty() ? SystemCopy : leadsTo);

        ASSERT_TRUE(install()) << diagnosis();
        EXPECT_TRUE(installedIntact());
        EXPECT_EQ(stage::itemsWithOwners(SystemCopy), before);
        if (!leadsTo.empty()) {
            EXPECT_EQ(stage::itemsWithOwners(leadsTo), leadsToBefore);
        }
        EXPECT_TRUE(home().trashedApplications().empty());
    }
};

TEST_F(SharedMachineTarget, AnEmptyFolderOfTheNeighbours) {
    fs::create_directory(SystemCopy);
    fs::permissions(SystemCopy, fs::perms(0777));
    stage::handOver(SystemCopy, Neighbour);
    expectInstalledAtHome();
}

TEST_F(SharedMachineTarget, ALinkToAFolderOfThePersons) {
    const fs::path mine = "/Applications/Mine.app";
    writeCopy(mine, "mine", Person, TargetBundleId);
    fs::create_directory_symlink(mine, SystemCopy);
    stage::handOver(SystemCopy, Neighbour);
    expectInstalledAtHome(mine);
}

TEST_F(SharedMachineTarget, AnotherProgramOfTheNeighbours) {
    writeCopy(SystemCopy, "another", Neighbour, "org.example.Another");
    fs::permissions(SystemCopy, fs::perms(0777));
    expectInstalledAtHome();
}

// The neighbour swaps the person's checked copy for a forged one as soon as
// the installer has read its Info.plist: what reaches the Trash is the
// checked copy or nothing, never the neighbour's.
TEST_F(SharedMachine, AForgedCopySwappedInAfterTheCheckIsNeverTrashed) {
    writeSystemCopy();
    const fs::path forged = "/Applications/Forged.app";
    writeCopy(forged, "forged", Neighbour, TargetBundleId);
    fs::permissions(forged, fs::perms(0777));
    const auto forgedBefore = stage::itemsWithOwners(forged);
    const auto forgedItem = stage::identityOf(forged);
    const auto checkedItem = stage::identityOf(SystemCopy);
    startNeighbour({"--swap-after-read", "/Applications", "Forged.app"});

    const bool installed = install();
    std::cerr << "the neighbour: " << neighbourSaid() << "installed: " << installed << "\n";
    const fs::path forgedNow = stage::whereIs(forgedItem, {"/Applications"});
    ASSERT_FALSE(forgedNow.empty()) << "the forged copy left /Applications\n" << diagnosis();
    EXPECT_EQ(stage::itemsWithOwners(forgedNow), forgedBefore);
    for (const auto& trashed : home().trashedApplications())
        EXPECT_EQ(stage::identityOf(trashed), checkedItem) << trashed;
    EXPECT_FALSE(stage::whereIs(checkedItem, {"/Applications", home().home()}).empty()) << "the checked copy is gone";
}

// The neighbour puts a program of theirs at the target the moment the new
// copy arrives there: it never runs; the checked copy starts, or the
// installer says it could not start it. What the window says is read from
// the accessibility bus, which the person's own session has.
class SharedMachineLaunch : public SharedMachine {
protected:
    void makeScene(const stage::SceneOptions& options) override {
        // A bus lets in only users the system can look up: here the
        // person is one who has a desktop session.
        const std::string passwd = stage::readWholeFile("/etc/passwd");
        const std::string group = stage::readWholeFile("/etc/group");
        std::ofstream(work() / "passwd") << passwd << (passwd.ends_with('\n') ? "" : "\n") << "person:x:"
                                         << Person.uid << ":" << Person.gid << "::" << options.home.string()
                                         << ":/bin/sh\n";
        std::ofstream(work() / "group") << group << (group.ends_with('\n') ? "" : "\n") << "shared:x:"
                                        << stage::SharedGroup << ":\n";
        stage::bindOver(work() / "passwd", "/etc/passwd");
        stage::bindOver(work() / "group", "/etc/group");
        const fs::path busHome = work() / "bus-home";
        fs::create_directory(busHome);
        fs::permissions(busHome, fs::perms(0700));
        stage::handOver(busHome, Person);
        bus_ = std::make_unique<AccessibilityBus>(work(), Person, busHome);
        stage::SceneOptions withBus = options;
        if (bus_->missing().empty()) withBus.environment = {bus_->variable()};
        SharedMachine::makeScene(withBus);
    }

    bool launchFailureShown() {
        stage::ProgramLaunch looking;
        looking.program = stage::seenByEveryone(E2E_ATSPI_READER);
        looking.arguments = {"tree", "OrbitreelInstaller"};
        looking.environment = bus_->environment();
        looking.output = work() / "tree.txt";
        looking.user = Person;
        fs::remove(looking.output);
        const bool read = stage::ChildProcess(looking).waitFor(Patience) == std::optional<int>(0);
        lastTree_ = stage::readWholeFile(looking.output);
        return read && lastTree_.find("label 'Instalado. Abrí Orbitreel desde Aplicaciones. ") != std::string::npos;
    }
    // What the reader last saw of the window, for failure messages.
    std::string lastTree_;

    std::unique_ptr<AccessibilityBus> bus_;
};

TEST_F(SharedMachineLaunch, WhatIsStartedIsTheCheckedCopy) {
    if (!bus_->missing().empty()) GTEST_SKIP() << bus_->missing();
    writeSystemCopy();
    const fs::path drop = work() / "drop";
    fs::create_directory(drop);
    fs::permissions(drop, fs::perms(0777));
    const fs::path marker = drop / "ran";
    const fs::path forged = "/Applications/Forged.app";
    stage::writeInfoPlist(forged, TargetBundleId, "Orbitreel");
    fs::create_directories(forged / "Contents/MacOS");
    std::ofstream(forged / "Contents/MacOS/Orbitreel") << "#!/bin/sh\necho ran > '" << marker.string() << "'\n";
    fs::permissions(forged / "Contents/MacOS/Orbitreel", fs::perms(0755));
    stage::handOver(forged, Neighbour);
    startNeighbour({"--swap-target", "/Applications", "Forged.app"});

    scene().serveRelease(scene().releaseImage());
    openAndPress();
    const auto ended = [&] {
        return home().applicationStarts() > 0 || fs::exists(marker) || !home().errorEntries().empty() ||
               launchFailureShown();
    };
    const bool over = stage::waitUntil(ended, Patience, 300ms);
    std::cerr << "the neighbour: " << neighbourSaid();
    ASSERT_TRUE(over) << diagnosis();
    EXPECT_TRUE(home().errorEntries().empty()) << diagnosis();
    EXPECT_FALSE(fs::exists(marker)) << "the neighbour's program ran";
    if (home().applicationStarts() == 0) {
        EXPECT_TRUE(launchFailureShown()) << "nothing started, and the window says:\n" << lastTree_;
    }
}

TEST_F(SharedMachine, ALinkAtTheLogsNameLeadsNowhere) {
    const fs::path personHome = home().home();
    writePersonal(".profile", "mine");
    const fs::path log = home().installerLog();
    fs::create_directories(log.parent_path());
    fs::create_symlink(personHome / ".profile", log);
    stage::handOver(personHome / "Library", Person);

    // The installer cannot log, so its window is all there is to wait for.
    stage::ProgramLaunch launch;
    launch.program = scene().installerBundle() / "Contents/MacOS/OrbitreelInstaller";
    launch.environment = stage::userEnvironment(personHome, scene().displayName());
    launch.user = Person;
    stage::ChildProcess installer(launch);
    ASSERT_TRUE(stage::waitUntil([&] { return scene().window().has_value(); }, Patience));
    scene().closeWindow();
    EXPECT_EQ(installer.waitFor(Patience), std::optional<int>(0));
    EXPECT_EQ(stage::readWholeFile(personHome / ".profile"), "mine");

    const fs::path nowhere = personHome / "created-through-the-link";
    fs::remove(log);
    fs::create_symlink(nowhere, log);
    stage::ChildProcess again(launch);
    ASSERT_TRUE(stage::waitUntil([&] { return scene().window().has_value(); }, Patience));
    scene().closeWindow();
    EXPECT_EQ(again.waitFor(Patience), std::optional<int>(0));
    EXPECT_FALSE(fs::exists(fs::symlink_status(nowhere)));
}

TEST_F(SharedMachine, OneInstallerPerPersonWithOrWithoutARuntimeFolder) {
    scene().openInstaller();
    auto windowLines = [&] {
        return std::ranges::count_if(home().logEntries(),
                                     [](const std::string& entry) { return startsWith(entry, "window visible="); });
    };
    const auto shown = windowLines();

    // From a terminal, su or cron: no runtime folder in the environment.
    stage::ProgramLaunch second;
    second.program = scene().installerBundle() / "Contents/MacOS/OrbitreelInstaller";
    second.environment = stage::userEnvironment(home().home(), scene().displayName());
    std::erase_if(second.environment, [](const std::string& entry) { return entry.starts_with("XDG_RUNTIME_DIR="); });
    second.user = Person;
    EXPECT_EQ(stage::ChildProcess(second).waitFor(Patience), std::optional<int>(0)) << "it hands over and leaves";
    EXPECT_TRUE(stage::waitUntil([&] { return windowLines() > shown; }, Patience)) << diagnosis();
    EXPECT_TRUE(scene().installerRunning());

    // The same home spelled another way: "/home/ann/" is "/home/ann".
    const auto shownBefore = windowLines();
    stage::ProgramLaunch third = second;
    third.environment = stage::userEnvironment(home().home() / "", scene().displayName());
    EXPECT_EQ(stage::ChildProcess(third).waitFor(Patience), std::optional<int>(0)) << "it hands over and leaves";
    EXPECT_TRUE(stage::waitUntil([&] { return windowLines() > shownBefore; }, Patience)) << diagnosis();
    EXPECT_TRUE(scene().installerRunning());
}

}  // namespace
}  // namespace orbitreel::e2e
