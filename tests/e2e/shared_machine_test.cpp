// Two people on one machine who share the system Applications folder (root's,
// writable by a group both belong to, no sticky bit): the person installs
// while the neighbour plants look-alikes of the installer's hidden copies and
// races every walk into them.

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "stage/bundle_check.h"
#include "stage/shared_machine.h"
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
        scene(options);
    }

    // A file of the person's own in their home.
    void writePersonal(const fs::path& relative, const std::string& text, fs::perms mode = fs::perms(0644)) {
        const fs::path file = home().home() / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
        fs::permissions(file, mode);
        stage::handOver(home().home(), Person);
    }

    // A bundle-shaped folder: `marker` in Contents/Resources/marker, and
    // folders nobody may write, as a copy of a read-only image has them.
    static void writeCopy(const fs::path& bundle, const std::string& marker, const stage::UserIdentity& owner) {
        fs::create_directories(bundle / "Contents/Resources");
        std::ofstream(bundle / "Contents/Resources/marker") << marker;
        fs::permissions(bundle / "Contents/Resources", fs::perms(0555));
        fs::permissions(bundle / "Contents", fs::perms(0555));
        stage::handOver(bundle, owner);
    }
    static std::string markerOf(const fs::path& bundle) {
        return stage::readWholeFile(bundle / "Contents/Resources/marker");
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

    // The neighbour's look-alikes: a read-only backup with no copy at the
    // target (put back, it would send the install there and fail it), a
    // writable one (it would go to the person's Trash), a staging copy, and
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

    // The person's own leftovers beside them: a backup, which comes back and
    // draws the install to this folder, and a half-made staging copy.
    const fs::path ownBackup = apps / stage::hiddenCopyName(".Orbitreel-backup-");
    const fs::path ownStaging = apps / stage::hiddenCopyName(".Orbitreel-install-");
    writeCopy(ownBackup, "previous", Person);
    writeCopy(ownStaging, "half-made", Person);

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
    // Installed in place of the person's copy, which went to their Trash.
    const fs::path installed = apps / "Orbitreel.app";
    EXPECT_EQ(stage::bundleProblem(installed, scene().release().version), "");
    struct stat st {};
    ASSERT_EQ(::lstat(installed.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, Person.uid);
    const auto trashed = home().trashedApplications();
    ASSERT_EQ(trashed.size(), 1u) << diagnosis();
    EXPECT_EQ(markerOf(trashed[0]), "previous");
    EXPECT_FALSE(fs::exists(ownBackup));
    EXPECT_FALSE(fs::exists(ownStaging));
    // What the neighbour swapped never reached the person's files above; it
    // may at most leave one of the person's own chains unremoved.
    for (const auto& left : ownHiddenCopies())
        EXPECT_TRUE(std::ranges::any_of(raced, [&](const fs::path& r) {
            return r.string().starts_with(left.string());
        })) << left;
    std::cerr << "neighbour bursts: " << stage::neighbourBursts(neighbourOutput) << "\n";
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
