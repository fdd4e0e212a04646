// The installer log: one line per call, appended, never disturbing the caller.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "core/note.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/test_platform.h"
#include "tests/support/text_files.h"

namespace orbitreel {
namespace {

class NoteTest : public ::testing::Test {
protected:
    NoteTest() { platform = services.withHome(folder.path() / "home", folder.path()).build(); }
    Path log() const { return folder.path() / "home/Library/Logs/OrbitreelInstaller.log"; }

    test_support::TemporaryFolder folder;
    test_support::TestPlatform services;
    Platform platform;
};

TEST_F(NoteTest, CreatesTheFolderAndAppendsTimestampedUtf8Lines) {
    note(platform, "launch /Applications/Instalador.app");
    std::string first = test_support::readText(log());
    std::regex line(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z launch /Applications/Instalador\.app\n)");
    EXPECT_TRUE(std::regex_match(first, line)) << first;

    note(platform, "error La información del instalador no es válida.");
    std::string both = test_support::readText(log());
    ASSERT_TRUE(both.starts_with(first)) << "the first line is never rewritten";
    std::string second = both.substr(first.size());
    EXPECT_EQ(second.substr(20), " error La información del instalador no es válida.\n");
    EXPECT_NE(second.find("informaci\xC3\xB3n"), std::string::npos) << "written as UTF-8";
}

TEST_F(NoteTest, UnwritableLogLocationIsSwallowed) {
    // A file where the log folder should be: nothing can be created or written.
    test_support::writeText(folder.path() / "home/Library/Logs", "not a folder");
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    note(platform, "layout placed");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(test_support::readText(folder.path() / "home/Library/Logs"), "not a folder");
}

TEST_F(NoteTest, ALinkAtTheLogsNameIsNeitherFollowedNorReplaced) {
    const Path elsewhere = folder.path() / "elsewhere";
    test_support::writeText(elsewhere, "keep");
    test_support::writeText(log().parent_path() / "placeholder", "");
    std::filesystem::create_symlink(elsewhere, log());
    note(platform, "launch");
    EXPECT_EQ(test_support::readText(elsewhere), "keep");

    const Path dangling = folder.path() / "not-there";
    std::filesystem::remove(log());
    std::filesystem::create_symlink(dangling, log());
    note(platform, "launch");
    EXPECT_FALSE(std::filesystem::exists(dangling)) << "nothing is created through the link";
    EXPECT_TRUE(std::filesystem::is_symlink(log()));
}

}  // namespace
}  // namespace orbitreel
