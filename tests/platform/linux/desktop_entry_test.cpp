// The installed copy's desktop entry: its text, what it may replace, and the
// desktop's own tools reading it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "base/interrupted.h"
#include "platform/linux/desktop_entry.h"
#include "platform/linux/linux_bundles.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/text_files.h"

namespace orbitreel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test_support::readText;
using test_support::writeText;

// A folder name with every character that the Exec value must quote or
// escape, the general escaping included.
const std::string AwkwardName = "a home 100% \"ours\" `x` $HOME \\ back";

BundleInfo infoWith(std::map<std::string, std::string> strings) {
    BundleInfo info;
    info.identifier = "app.orbitreel.Orbitreel";
    info.strings = std::move(strings);
    return info;
}

std::string plist(const std::string& executable, const std::string& icon) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>app.orbitreel.Orbitreel</string>"
           "<key>CFBundleName</key><string>Orbitreel</string>"
           "<key>CFBundleExecutable</key><string>" +
           executable + "</string><key>CFBundleIconFile</key><string>" + icon + "</string></dict></plist>\n";
}

// Runs a program with its output in `log`; its exit status.
int run(const std::vector<std::string>& arguments, const Path& log) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, STDOUT_FILENO);
        dup2(out, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    base::retryInterrupted([&] { return waitpid(pid, &status, 0); });
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool installed(const char* program) {
    return run({"sh", "-c", std::string("command -v ") + program}, "/dev/null") == 0;
}

TEST(DesktopEntry, TheTextQuotesTheExecutableAndEscapesEveryValue) {
    const Path bundle = Path("/home") / AwkwardName / "Applications/Orbitreel.app";
    DesktopEntry entry{"Orbit\\reel", bundle / "Contents/MacOS/Orbitreel", bundle / "Contents/Resources/Orbitreel.png"};
    EXPECT_EQ(
        desktopEntryText(entry),
        "[Desktop Entry]\nType=Application\nName=Orbit\\\\reel\n"
        "Exec=/bin/sh -c \"exec \\\\\"\\\\$0\\\\\"\" "
        "\"/home/a home 100%% \\\\\"ours\\\\\" \\\\`x\\\\` \\\\$HOME \\\\\\\\ back"
        "/Applications/Orbitreel.app/Contents/MacOS/Orbitreel\"\n"
        "TryExec=/home/a home 100% \"ours\" `x` $HOME \\\\ back/Applications/Orbitreel.app/Contents/MacOS/Orbitreel\n"
        "Icon=/home/a home 100% \"ours\" `x` $HOME \\\\ back"
        "/Applications/Orbitreel.app/Contents/Resources/Orbitreel.png\n"
        "Terminal=false\nX-OrbitreelInstaller-Written=true\n");

    // Without a percent sign the program is started directly.
    entry.icon.reset();
    entry.executable = "/Applications/Orbit reel.app/Contents/MacOS/Orbitreel";
    EXPECT_NE(desktopEntryText(entry)->find("\nExec=\"/Applications/Orbit reel.app/Contents/MacOS/Orbitreel\"\n"),
              std::string::npos);

    // What a value cannot carry: no entry rather than a broken one.
    for (const char* folder : {"/home/line\nbreak", "/home/tab\there", "/home/latin1-\xE9"}) {
        entry.executable = Path(folder) / "Orbitreel.app/Contents/MacOS/Orbitreel";
        EXPECT_EQ(desktopEntryText(entry), std::nullopt) << folder;
    }
    entry.executable = "Orbitreel.app/Contents/MacOS/Orbitreel";
    EXPECT_EQ(desktopEntryText(entry), std::nullopt);
    entry.executable = "/Applications/Orbitreel.app/Contents/MacOS/Orbitreel";
    entry.name = "  ";
    EXPECT_EQ(desktopEntryText(entry), std::nullopt);
}

TEST(DesktopEntry, NameIconAndPlaceComeFromTheBundleAndTheEnvironment) {
    test_support::TemporaryFolder temporary;
    const Path bundle = temporary.path() / "Orbitreel.app";
    const Path resources = bundle / "Contents/Resources";
    writeText(resources / "real.png", std::string("\x89PNG\r\n\x1a\n", 8) + "rest");
    writeText(resources / "fake.png", "not a picture");
    writeText(resources / "drawing.svg", "\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- o -->\n<svg xmlns=\"x\"/>");
    writeText(resources / "text.svg", "just <svg> in prose");
    fs::create_symlink(resources / "real.png", resources / "link.png");
    fs::create_directories(resources / "folder.png");

    auto of = [&](std::map<std::string, std::string> strings) { return desktopEntryOf(bundle, infoWith(strings)); };
    auto entry = of({{"CFBundleExecutable", "Orbitreel"}, {"CFBundleName", "Name"}, {"CFBundleDisplayName", "Shown"}});
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->name, "Shown");
    EXPECT_EQ(entry->executable, bundle / "Contents/MacOS/Orbitreel");
    EXPECT_EQ(entry->icon, std::nullopt);
    EXPECT_EQ(of({{"CFBundleExecutable", "Orbitreel"}, {"CFBundleName", "Name"}, {"CFBundleDisplayName", " "}})->name,
              "Name");
    EXPECT_EQ(of({{"CFBundleExecutable", "Orbitreel"}})->name, "Orbitreel");
    EXPECT_EQ(of({{"CFBundleName", "Name"}}), std::nullopt);
    EXPECT_EQ(of({{"CFBundleExecutable", "../Orbitreel"}}), std::nullopt);

    // The icon only when its content is a PNG or an SVG, in a plain file.
    for (const auto& [file, usable] : std::map<std::string, bool>{{"real.png", true},
                                                                  {"drawing.svg", true},
                                                                  {"fake.png", false},
                                                                  {"text.svg", false},
                                                                  {"link.png", false},
                                                                  {"folder.png", false},
                                                                  {"missing.png", false},
                                                                  {"../Resources/real.png", false}}) {
        auto withIcon = of({{"CFBundleExecutable", "Orbitreel"}, {"CFBundleIconFile", file}});
        EXPECT_EQ(withIcon->icon, usable ? std::optional<Path>(resources / file) : std::nullopt) << file;
    }

    EXPECT_EQ(desktopEntryFileName(infoWith({})), "app.orbitreel.Orbitreel.desktop");
    for (const char* identifier : {"", ".hidden", "a/b", "a b", "../x"}) {
        BundleInfo info;
        info.identifier = identifier;
        EXPECT_EQ(desktopEntryFileName(info), std::nullopt) << identifier;
    }
    EXPECT_EQ(desktopEntryFileName(BundleInfo{}), std::nullopt);

    EXPECT_EQ(desktopEntriesFolder("/home/p", nullptr), "/home/p/.local/share/applications");
    EXPECT_EQ(desktopEntriesFolder("/home/p", "/data"), "/data/applications");
    EXPECT_EQ(desktopEntriesFolder("/home/p", "relative"), "/home/p/.local/share/applications");
}

class DesktopEntryWriting : public ::testing::Test {
protected:
    test_support::TemporaryFolder temporary;
    const Path folder = temporary.path() / "data/applications";
    const Path entry = folder / "app.orbitreel.Orbitreel.desktop";
    const std::string ours = std::string("[Desktop Entry]\nName=Old\n") + DesktopEntryMark + "\n";

    Result<EntryWrite> write(const std::string& text) { return writeDesktopEntry(folder, entry.filename(), text); }
    // Nothing beside the entries that the test put there: no temporary file.
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& item : fs::directory_iterator(folder)) found.push_back(item.path().filename());
        std::sort(found.begin(), found.end());
        return found;
    }
};

TEST_F(DesktopEntryWriting, WritesAndReplacesItsOwnEntry) {
    EXPECT_EQ(write(ours), EntryWrite::written);
    EXPECT_EQ(readText(entry), ours);
    // The folders it had to make are private.
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(folder.parent_path()).permissions(), fs::perms::owner_all);

    const std::string next = std::string("[Desktop Entry]\nName=New\n") + DesktopEntryMark + "\n";
    EXPECT_EQ(write(next), EntryWrite::written);
    EXPECT_EQ(readText(entry), next);
    // The mark as the last line without a line break still counts.
    writeText(entry, std::string("[Desktop Entry]\n") + DesktopEntryMark);
    EXPECT_EQ(write(next), EntryWrite::written);
    EXPECT_EQ(readText(entry), next);
    EXPECT_EQ(names(), std::vector<std::string>{entry.filename()});
}

TEST_F(DesktopEntryWriting, LeavesAloneWhatItDidNotWrite) {
    const Path elsewhere = temporary.path() / "elsewhere.desktop";
    writeText(elsewhere, ours);
    auto leftAlone = [&](const std::string& what) {
        EXPECT_EQ(write(ours + "X-New=1\n"), EntryWrite::leftAlone) << what;
        EXPECT_EQ(readText(elsewhere), ours) << what;
        EXPECT_EQ(names(), std::vector<std::string>{entry.filename()}) << what;
    };

    // The person's own entries, even ones that mention the mark.
    fs::create_directories(folder);
    for (const std::string& text :
         {std::string("[Desktop Entry]\nName=Mine\n"), std::string("[Desktop Entry]\n# ") + DesktopEntryMark + "\n",
          std::string("[Desktop Entry]\n") + DesktopEntryMark + "s\n"}) {
        writeText(entry, text);
        leftAlone(text);
        EXPECT_EQ(readText(entry), text);
    }
    fs::remove(entry);

    // Links, whether to one of our entries or to nothing, and a folder.
    fs::create_symlink(elsewhere, entry);
    leftAlone("a link");
    EXPECT_EQ(fs::read_symlink(entry), elsewhere);
    fs::remove(entry);
    fs::create_symlink(temporary.path() / "nothing", entry);
    leftAlone("a dangling link");
    EXPECT_FALSE(fs::exists(temporary.path() / "nothing"));
    fs::remove(entry);
    fs::create_directory(entry);
    leftAlone("a folder");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(entry)));
    fs::remove(entry);

    // A marked entry of someone else's.
    if (::geteuid() == 0) {
        writeText(entry, ours);
        ASSERT_EQ(::chown(entry.c_str(), 12345, 12345), 0);
        leftAlone("someone else's");
        EXPECT_EQ(readText(entry), ours);
    }
}

TEST(DesktopEntry, TheDesktopsToolsValidateItAndStartTheCopy) {
    if (!installed("desktop-file-validate") || !installed("gio"))
        GTEST_SKIP() << "needs desktop-file-validate and gio (Debian packages desktop-file-utils, libglib2.0-bin)";
    test_support::TemporaryFolder temporary;
    const Path log = temporary.path() / "tool.txt";
    auto bundles = makeLinuxBundles();
    // The two forms of Exec: through the shell (a percent sign) and direct.
    for (const std::string& name : {AwkwardName, std::string("a home \"ours\" `x` $HOME \\ back")}) {
        const Path home = temporary.path() / name;
        const Path bundle = home / "Applications/Orbitreel.app";
        writeText(bundle / "Contents/Info.plist", plist("Orbitreel", "Orbitreel.png"));
        // A small real program that says where it was started from.
        const Path executable = bundle / "Contents/MacOS/Orbitreel";
        writeText(executable, "#!/bin/sh\n: > \"$0.started\"\n");
        fs::permissions(executable, fs::perms(0755));
        fs::create_directories(bundle / "Contents/Resources");
        fs::copy_file(ORBITREEL_TEST_DEMO_ICON, bundle / "Contents/Resources/Orbitreel.png");

        ASSERT_EQ(registerApplication(*bundles, bundle, home, nullptr), EntryWrite::written);
        const Path entry = home / ".local/share/applications/app.orbitreel.Orbitreel.desktop";
        EXPECT_EQ(run({"desktop-file-validate", entry}, log), 0) << readText(log);
        EXPECT_EQ(readText(log), "") << name;
        EXPECT_NE(readText(entry).find("\nIcon="), std::string::npos) << name;

        EXPECT_EQ(run({"gio", "launch", entry}, log), 0) << readText(log);
        const Path started = executable.string() + ".started";
        for (int i = 0; i < 500 && !fs::exists(started); ++i) std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(fs::exists(started)) << readText(entry);
    }
}

}  // namespace
}  // namespace orbitreel
