// Running applications and the workspace, with real bundles and processes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <unistd.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <set>
#include <sstream>
#include <thread>

#include "core/texts.h"
#include "platform/linux/linux_applications.h"
#include "platform/linux/linux_bundles.h"
#include "platform/linux/qt_queues.h"
#include "tests/install/install_test_paths.h"
#include "tests/support/identity_of_path.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/text_files.h"

namespace orbitreel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test_support::readText;
using test_support::writeText;

std::string infoPlist(const std::string& identifier, const std::string& executable) {
    std::string plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        "<key>CFBundleIdentifier</key><string>" +
        identifier + "</string>\n";
    if (!executable.empty()) plist += "<key>CFBundleExecutable</key><string>" + executable + "</string>\n";
    return plist + "</dict>\n</plist>\n";
}

// A bundle whose executable is the probe tool, which records its pid beside
// the file it runs from and waits to be terminated.
Path makeBundle(const Path& folder, const std::string& name, const std::string& identifier) {
    const Path bundle = folder / (name + ".app");
    writeText(bundle / "Contents/Info.plist", infoPlist(identifier, name));
    fs::create_directories(bundle / "Contents/MacOS");
    fs::copy_file(test_support::probeToolPath(), bundle / "Contents/MacOS" / name);
    return bundle;
}

// Waits a bounded while for something another process does.
template <class Condition>
bool eventually(Condition condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

struct Opened {
    std::optional<Error> error;
    std::thread::id thread;
};

class ApplicationsTest : public ::testing::Test {
protected:
    void TearDown() override {
        for (pid_t pid : started) ::kill(pid, SIGKILL);
    }

    // The copy at `bundle` as it is now, as the install hands it over.
    Opened open(const Path& bundle) { return open({bundle, test_support::identityOfPath(bundle)}); }

    Opened open(const InstalledApplication& application) {
        auto promise = std::make_shared<std::promise<Opened>>();
        auto future = promise->get_future();
        workspace->openApplication(application, [promise](std::optional<Error> error) {
            promise->set_value({std::move(error), std::this_thread::get_id()});
        });
        if (future.wait_for(30s) != std::future_status::ready) {
            ADD_FAILURE() << "the workspace never answered";
            return {};
        }
        return future.get();
    }

    // The pid that the started copy wrote beside its executable.
    pid_t startedPid(const Path& bundle, const std::string& name) {
        const Path pidFile = bundle / "Contents/MacOS" / (name + ".pid");
        if (!eventually([&] { return fs::exists(pidFile); })) return 0;
        const pid_t pid = std::stoi(readText(pidFile));
        fs::remove(pidFile);
        started.push_back(pid);
        return pid;
    }

    // Fields of /proc/PID/stat after the command name.
    static std::vector<std::string> statFields(pid_t pid) {
        const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
        std::istringstream rest(stat.substr(stat.rfind(')') + 2));
        std::vector<std::string> fields;
        for (std::string field; rest >> field;) fields.push_back(field);
        return fields;
    }

    test_support::TemporaryFolder folder;
    std::unique_ptr<Bundles> bundles = makeLinuxBundles();
    std::unique_ptr<RunningApplications> running = makeLinuxRunningApplications(*bundles);
    std::unique_ptr<Queues> queues = makeQtQueues();
    std::unique_ptr<Workspace> workspace = makeLinuxWorkspace(*queues);
    const std::string id = "app.orbitreel.test" + std::to_string(getpid());
    std::vector<pid_t> started;
};

TEST_F(ApplicationsTest, OpenedApplicationRunsDetachedAndIsCountedByItsIdentifier) {
    const Path app = makeBundle(folder.path(), "Probe", id);
    const Path other = makeBundle(folder.path() / "elsewhere", "Probe", id + ".other");
    EXPECT_EQ(running->countWithBundleIdentifier(id), 0u);

    // Held without close-on-exec while it starts, as a library might.
    const int file = ::open("/dev/null", O_RDONLY);
    int connection[2] = {-1, -1};
    ASSERT_GE(file, 0);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, connection), 0);
    const Opened first = open(app);
    ::close(file);
    ::close(connection[0]);
    ::close(connection[1]);
    EXPECT_FALSE(first.error) << first.error->localizedDescription();
    EXPECT_NE(first.thread, std::this_thread::get_id());
    const pid_t pid = startedPid(app, "Probe");
    ASSERT_NE(pid, 0) << "the application did not start";

    // Not our child, in a session of its own, reading nothing from us.
    const auto fields = statFields(pid);
    ASSERT_GE(fields.size(), 4u);
    EXPECT_NE(std::stoi(fields[1]), getpid());
    EXPECT_NE(std::stoi(fields[3]), getsid(0));
    EXPECT_EQ(fs::read_symlink("/proc/" + std::to_string(pid) + "/fd/0"), "/dev/null");
    std::set<std::string> descriptors;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd"))
        descriptors.insert(entry.path().filename().string());
    EXPECT_EQ(descriptors, (std::set<std::string>{"0", "1", "2"}));

    EXPECT_FALSE(open(app).error);
    ASSERT_NE(startedPid(app, "Probe"), 0);
    EXPECT_FALSE(open(other).error);
    ASSERT_NE(startedPid(other, "Probe"), 0);

    // The same executable name in a bundle with another identifier does not count.
    EXPECT_EQ(running->countWithBundleIdentifier(id), 2u);
    EXPECT_EQ(running->countWithBundleIdentifier(id + ".other"), 1u);
    EXPECT_EQ(running->countWithBundleIdentifier("app.orbitreel.Orbitreel.absent"), 0u);

    for (pid_t p : started) ::kill(p, SIGTERM);
    EXPECT_TRUE(eventually([&] { return running->countWithBundleIdentifier(id) == 0; }));
}

TEST_F(ApplicationsTest, StartFailuresReachTheHandlerOnAnotherThread) {
    const Path noBundle = folder.path() / "Empty.app";
    fs::create_directories(noBundle);
    const Path noExecutableKey = folder.path() / "NoKey.app";
    writeText(noExecutableKey / "Contents/Info.plist", infoPlist(id, ""));
    const Path missingExecutable = folder.path() / "Missing.app";
    writeText(missingExecutable / "Contents/Info.plist", infoPlist(id, "Missing"));
    const Path notExecutable = folder.path() / "Plain.app";
    writeText(notExecutable / "Contents/Info.plist", infoPlist(id, "Plain"));
    writeText(notExecutable / "Contents/MacOS/Plain", "not a program");

    for (const Path& bundle :
         {noBundle, noExecutableKey, missingExecutable, notExecutable, folder.path() / "Absent.app"}) {
        const Opened opened = open(bundle);
        ASSERT_TRUE(opened.error) << bundle;
        EXPECT_NE(opened.thread, std::this_thread::get_id());
        EXPECT_NE(opened.error->localizedDescription().find(bundle.string()), std::string::npos)
            << opened.error->localizedDescription();
    }
    EXPECT_EQ(running->countWithBundleIdentifier(id), 0u);
}

TEST_F(ApplicationsTest, OnlyTheCheckedCopyStartsOrNothingDoes) {
    const Path location = folder.path() / "Probe.app";
    const Path aside = folder.path() / "aside";
    const std::string theirId = id + ".theirs";
    // What a neighbour who may rename entries beside the copy puts in its
    // way, once the install has taken the copy's identity.
    struct Planting {
        const char* what;
        std::function<void(const Path& copy, const Path& theirs)> plant;
        bool replaced;  // the copy itself is no longer at its name
    };
    const std::vector<Planting> plantings = {
        {"another folder at its name",
         [&](const Path& copy, const Path& theirs) {
             fs::rename(copy, aside);
             fs::rename(theirs, copy);
         },
         true},
        {"a link at its name, to the very copy",
         [&](const Path& copy, const Path&) {
             fs::rename(copy, aside);
             fs::create_directory_symlink(aside, copy);
         },
         true},
        {"a link at Contents",
         [](const Path& copy, const Path& theirs) {
             fs::remove_all(copy / "Contents");
             fs::create_directory_symlink(theirs / "Contents", copy / "Contents");
         },
         false},
        {"a link at Info.plist",
         [](const Path& copy, const Path& theirs) {
             fs::remove(copy / "Contents/Info.plist");
             fs::create_symlink(theirs / "Contents/Info.plist", copy / "Contents/Info.plist");
         },
         false},
        {"a link at MacOS",
         [](const Path& copy, const Path& theirs) {
             fs::remove_all(copy / "Contents/MacOS");
             fs::create_directory_symlink(theirs / "Contents/MacOS", copy / "Contents/MacOS");
         },
         false},
        {"a link at the executable",
         [](const Path& copy, const Path& theirs) {
             fs::remove(copy / "Contents/MacOS/Probe");
             fs::create_symlink(theirs / "Contents/MacOS/Probe", copy / "Contents/MacOS/Probe");
         },
         false},
    };
    for (const Planting& planting : plantings) {
        SCOPED_TRACE(planting.what);
        fs::remove_all(location);
        fs::remove_all(aside);
        fs::remove_all(folder.path() / "theirs");
        makeBundle(folder.path(), "Probe", id);
        const Path theirs = makeBundle(folder.path() / "theirs", "Probe", theirId);
        const InstalledApplication checked{location, test_support::identityOfPath(location)};
        planting.plant(location, theirs);

        const Opened opened = open(checked);
        ASSERT_TRUE(opened.error);
        if (planting.replaced) {
            EXPECT_EQ(opened.error->localizedDescription(), texts::folderReplaced(location.string()));
        } else {
            EXPECT_NE(opened.error->localizedDescription().find(location.string()), std::string::npos)
                << opened.error->localizedDescription();
        }
        // Nothing started, neither theirs nor, through a link, the copy.
        EXPECT_EQ(running->countWithBundleIdentifier(theirId), 0u);
        EXPECT_EQ(running->countWithBundleIdentifier(id), 0u);
        for (const auto& entry : fs::recursive_directory_iterator(folder.path()))
            EXPECT_NE(entry.path().extension(), ".pid") << entry.path();
    }

    // The copy left as it was checked starts, and finds its bundle.
    fs::remove_all(location);
    makeBundle(folder.path(), "Probe", id);
    EXPECT_FALSE(open(location).error);
    EXPECT_NE(startedPid(location, "Probe"), 0);
}

TEST_F(ApplicationsTest, AScriptStartsThroughTheDescriptorOfTheCheckedFile) {
    const Path bundle = folder.path() / "Script.app";
    const Path marker = folder.path() / "script-ran";
    writeText(bundle / "Contents/Info.plist", infoPlist(id, "Script"));
    writeText(bundle / "Contents/MacOS/Script", "#!/bin/sh\necho \"$0\" > '" + marker.string() + "'\n");
    fs::permissions(bundle / "Contents/MacOS/Script", fs::perms::owner_all);

    const Opened opened = open(bundle);
    ASSERT_FALSE(opened.error) << opened.error->localizedDescription();
    EXPECT_TRUE(eventually([&] { return fs::exists(marker) && !readText(marker).empty(); }));
}

}  // namespace
}  // namespace orbitreel
