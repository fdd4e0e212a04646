// The Linux file service against the real file system.

#include <curl/curl.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/linux/download/curl_errors.h"
#include "platform/linux/linux_files.h"
#include "platform/linux/posix_errors.h"
#include "tests/support/temporary_folder.h"
#include "tests/support/text_files.h"

namespace orbitreel {
namespace {

namespace fs = std::filesystem;

class LinuxFilesTest : public ::testing::Test {
protected:
    test_support::TemporaryFolder folder;
    std::unique_ptr<Files> files = makeLinuxFiles();
    Path at(const std::string& name) const { return folder.path() / name; }
};

TEST_F(LinuxFilesTest, MoveRefusesAnExistingDestinationAndLeavesBoth) {
    test_support::writeText(at("a"), "new");
    test_support::writeText(at("b"), "old");
    auto moved = files->move(at("a"), at("b"));
    ASSERT_FALSE(moved);
    EXPECT_EQ(moved.error().platformError()->code, EEXIST);
    EXPECT_EQ(test_support::readText(at("a")), "new");
    EXPECT_EQ(test_support::readText(at("b")), "old");

    // A folder moves whole; a dangling link still counts as "in the way".
    test_support::writeText(at("tree/inner/file"), "x");
    ASSERT_TRUE(files->move(at("tree"), at("moved")));
    EXPECT_EQ(test_support::readText(at("moved/inner/file")), "x");
    fs::create_symlink("nowhere", at("dangling"));
    EXPECT_TRUE(files->exists(at("dangling")));
    EXPECT_FALSE(files->move(at("moved"), at("dangling")));
}

TEST_F(LinuxFilesTest, MoveAcrossFileSystemsCopiesThenRemoves) {
    Path shm = "/dev/shm";
    struct stat a {
    }, b{};
    if (::stat(shm.c_str(), &a) != 0 || ::stat(folder.path().c_str(), &b) != 0 || a.st_dev == b.st_dev)
        GTEST_SKIP() << "no second file system (/dev/shm) here";
    Path source = shm / ("orbitreel-move-" + std::to_string(::getpid()));
    fs::remove_all(source);
    test_support::writeText(source / "Contents/MacOS/app", "binary");
    fs::permissions(source / "Contents/MacOS/app", fs::perms(04700));
    fs::permissions(source / "Contents/MacOS", fs::perms(02755));
    fs::create_directory(source / "Contents/Shared");
    fs::permissions(source / "Contents/Shared", fs::perms(01777));
    fs::create_symlink("MacOS/app", source / "Contents/link");

    test_support::writeText(at("taken"), "keep");
    auto refused = files->move(source, at("taken"));
    EXPECT_FALSE(refused);
    EXPECT_EQ(test_support::readText(at("taken")), "keep");
    EXPECT_TRUE(fs::exists(source)) << "a refused move keeps the source";

    ASSERT_TRUE(files->move(source, at("copied")));
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(test_support::readText(at("copied/Contents/MacOS/app")), "binary");
    // Permission bits, and never a set-id or sticky bit.
    EXPECT_EQ(fs::status(at("copied/Contents/MacOS/app")).permissions(), fs::perms(0700));
    EXPECT_EQ(fs::status(at("copied/Contents/MacOS")).permissions(), fs::perms(0755));
    EXPECT_EQ(fs::status(at("copied/Contents/Shared")).permissions(), fs::perms(0777));
    EXPECT_EQ(fs::read_symlink(at("copied/Contents/link")), "MacOS/app");
    for (const auto& entry : fs::directory_iterator(folder.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".moving-")) << "no staging copy left";
}

TEST_F(LinuxFilesTest, ExchangeSwapsTwoEntriesWholeOrNotAtAll) {
    test_support::writeText(at("Orbitreel.app/Contents/Info.plist"), "old");
    test_support::writeText(at("staging/Contents/Info.plist"), "new");
    test_support::writeText(at("staging/Contents/MacOS/app"), "binary");
    auto exchanged = files->exchange(at("staging"), at("Orbitreel.app"));
    ASSERT_TRUE(exchanged) << exchanged.error().localizedDescription();
    ASSERT_EQ(*exchanged, Files::Exchange::done);
    EXPECT_EQ(test_support::readText(at("Orbitreel.app/Contents/Info.plist")), "new");
    EXPECT_EQ(test_support::readText(at("Orbitreel.app/Contents/MacOS/app")), "binary");
    EXPECT_EQ(test_support::readText(at("staging/Contents/Info.plist")), "old");
    EXPECT_FALSE(fs::exists(at("staging/Contents/MacOS")));

    // A missing side is a failure, not an unsupported exchange, and moves nothing.
    auto missing = files->exchange(at("nowhere"), at("Orbitreel.app"));
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().platformError()->code, ENOENT);
    EXPECT_FALSE(files->exchange(at("Orbitreel.app"), at("nowhere")));
    EXPECT_EQ(test_support::readText(at("Orbitreel.app/Contents/Info.plist")), "new");
    EXPECT_FALSE(fs::exists(at("nowhere")));
}

TEST_F(LinuxFilesTest, ListingIdentitiesAndRemovingALockedTree) {
    EXPECT_FALSE(files->listFolder(at("missing")));
    test_support::writeText(at("tree/.hidden"), "h");
    test_support::writeText(at("tree/locked/deeper/file"), "f");
    fs::create_symlink("../outside", at("tree/link"));
    auto names = files->listFolder(at("tree"));
    ASSERT_TRUE(names);
    std::sort(names->begin(), names->end());
    EXPECT_EQ(*names, (std::vector<std::string>{".hidden", "link", "locked"}));

    // An item keeps its identity under another name; a new one at the old
    // name is another item, and a link is itself, not what it points at.
    auto hidden = files->identityAt(at("tree/.hidden"));
    ASSERT_TRUE(hidden);
    fs::rename(at("tree/.hidden"), at("tree/.renamed"));
    EXPECT_EQ(files->identityAt(at("tree/.renamed")).value(), *hidden);
    test_support::writeText(at("tree/.hidden"), "h");
    EXPECT_NE(files->identityAt(at("tree/.hidden")).value(), *hidden);
    fs::rename(at("tree/.renamed"), at("tree/.hidden"));
    EXPECT_TRUE(files->identityAt(at("tree/link"))) << "a link is an item of its own, dangling or not";
    EXPECT_FALSE(files->identityAt(at("missing")));

    // Folders nobody may enter are opened and emptied; links lead nowhere,
    // and what they point at keeps its content and mode.
    test_support::writeText(at("outside/file"), "o");
    fs::permissions(at("outside"), static_cast<fs::perms>(0500));
    fs::create_directory_symlink(at("outside"), at("tree/locked/deeper/to-outside"));
    fs::permissions(at("tree/locked/deeper"), fs::perms::none);
    fs::permissions(at("tree/locked"), static_cast<fs::perms>(0555));
    fs::permissions(at("tree"), static_cast<fs::perms>(0500));
    EXPECT_TRUE(files->isOwnFolder(at("tree")));
    EXPECT_FALSE(files->isOwnFolder(at("tree/link"))) << "a link to a folder is not a folder";
    ASSERT_TRUE(files->remove(at("tree")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(at("tree"))));
    EXPECT_EQ(fs::status(at("outside")).permissions(), static_cast<fs::perms>(0500));
    EXPECT_EQ(test_support::readText(at("outside/file")), "o");
    EXPECT_FALSE(files->isOwnFolder(at("outside/file")));

    // Another user's folder is not entered: the removal stops there.
    if (::geteuid() == 0) {
        test_support::writeText(at("mine/theirs/file"), "t");
        ASSERT_EQ(::chown(at("mine/theirs").c_str(), 65534, 65534), 0);
        EXPECT_FALSE(files->isOwnFolder(at("mine/theirs")));
        EXPECT_FALSE(files->remove(at("mine")));
        EXPECT_EQ(test_support::readText(at("mine/theirs/file")), "t");
    }
}

TEST_F(LinuxFilesTest, RemoveWriteAndReadContracts) {
    EXPECT_FALSE(files->remove(at("missing"))) << "removing nothing is a failure";
    EXPECT_FALSE(files->openForWriting(at("missing"))) << "opening for writing never creates";

    const std::string text = "primera";
    ASSERT_TRUE(files->write(at("f"), asBytes(text), false));
    ASSERT_TRUE(files->write(at("f"), asBytes(std::string("segunda")), true));
    EXPECT_EQ(test_support::readText(at("f")), "segunda");
    EXPECT_EQ(files->fileSize(at("f")).value(), 7);
    auto bytes = files->readAll(at("f"));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "segunda");
    for (const auto& entry : fs::directory_iterator(folder.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".f.")) << "no temporary left by the atomic write";

    auto appender = files->openForWriting(at("f"));
    ASSERT_TRUE(appender);
    ASSERT_TRUE((*appender)->seekToEnd());
    ASSERT_TRUE((*appender)->write(asBytes(std::string("!"))));
    ASSERT_TRUE((*appender)->close());
    EXPECT_EQ(test_support::readText(at("f")), "segunda!");

    // Reads return fewer bytes only at the end, then nothing.
    auto reader = files->openForReading(at("f"));
    ASSERT_TRUE(reader);
    std::uint8_t buffer[5];
    EXPECT_EQ((*reader)->read(buffer).value(), 5u);
    EXPECT_EQ((*reader)->read(buffer).value(), 3u);
    EXPECT_EQ((*reader)->read(buffer).value(), 0u);

    ASSERT_TRUE(files->createDirectories(at("x/y/z")));
    EXPECT_TRUE(files->createDirectories(at("x/y/z"))) << "an existing folder is fine";
    EXPECT_FALSE(files->createDirectories(at("f/sub"))) << "a file in the way";
    EXPECT_TRUE(files->remove(at("x")));
    EXPECT_FALSE(fs::exists(at("x")));
}

TEST_F(LinuxFilesTest, APrivateFolderIsReachedThroughItsDescriptorWhateverItsName) {
    const char* oldHome = std::getenv("HOME");
    const std::string saved = oldHome ? oldHome : "";
    ::setenv("HOME", folder.path().c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
    struct Restore {
        std::string home;
        ~Restore() { ::setenv("HOME", home.c_str(), 1); }
    } restore{saved};

    test_support::writeText(at("taken/file"), "t");
    EXPECT_FALSE(files->makePrivateFolder(at("taken"))) << "a name in use is never taken over";
    auto made = files->makePrivateFolder(at("private"));
    ASSERT_TRUE(made) << made.error().localizedDescription();
    PrivateFolder& held = **made;
    EXPECT_EQ(fs::status(at("private")).permissions(), fs::perms::owner_all);
    ASSERT_TRUE(held.makeFolder("Copy.app"));

    // Renamed, and another folder put at its name: the held one is still
    // the one reached, by its operations and by the path the tools get.
    fs::rename(at("private"), at("moved"));
    fs::create_directory(at("private"));
    test_support::writeText(held.pathInside("Copy.app") / "marker", "mine");
    EXPECT_EQ(test_support::readText(at("moved/Copy.app/marker")), "mine");
    auto names = held.names();
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, std::vector<std::string>{"Copy.app"});
    auto found = files->findPrivateFolder(folder.path(), held.identity());
    ASSERT_TRUE(found && *found);
    EXPECT_EQ((*found)->shownPath(), at("moved"));
    fs::permissions(at("private"), fs::perms::owner_all);
    EXPECT_FALSE(*files->findPrivateFolder(at("moved"), held.identity())) << "nothing there is that folder";

    // To the Trash: a record there that lost its item to a killed run is
    // replaced, never left beside the new one.
    const Path info = at(".local/share/Trash/info/.Orbitreel-backup-1.app.trashinfo");
    test_support::writeText(info, "[Trash Info]\nPath=/stale\n");
    ASSERT_TRUE(held.trashInside("Copy.app", ".Orbitreel-backup-1.app", at("Applications/.Orbitreel-backup-1.app")));
    EXPECT_EQ(test_support::readText(at(".local/share/Trash/files/.Orbitreel-backup-1.app/marker")), "mine");
    const std::string written = test_support::readText(info);
    EXPECT_NE(written.find("Path=" + at("Applications/.Orbitreel-backup-1.app").string()), std::string::npos)
        << written;
    EXPECT_FALSE(held.trashInside("missing", ".Orbitreel-backup-2.app", at("x")));
    EXPECT_FALSE(fs::exists(at(".local/share/Trash/info/.Orbitreel-backup-2.app.trashinfo")));

    // Removed from wherever it lies now, and never the folder at its old name.
    ASSERT_TRUE(held.removeFrom(folder.path()));
    EXPECT_FALSE(fs::exists(at("moved")));
    EXPECT_TRUE(fs::is_directory(at("private")));
}

// What the person reads about a refused step is Spanish: a known cause in its
// own words, any other as the generic text with the system's number.
TEST_F(LinuxFilesTest, RefusalsReadAsSpanishWithTheNumberForUnknownCauses) {
    const Path missing = at("missing");
    auto absent = files->readAll(missing);
    ASSERT_FALSE(absent);
    EXPECT_EQ(absent.error().localizedDescription(), "No existe el archivo o la carpeta (" + missing.string() + ").");

    fs::create_symlink("b", at("a"));
    fs::create_symlink("a", at("b"));
    const Path looped = at("a/file");
    auto loop = files->readAll(looped);
    ASSERT_FALSE(loop);
    EXPECT_EQ(loop.error().localizedDescription(),
              "Error del sistema número " + std::to_string(ELOOP) + " (" + looped.string() + ").");

    for (int code = 1; code < 134; ++code) {
        EXPECT_EQ(posixError(code).description.find(std::strerror(code)), std::string::npos) << code;
        EXPECT_EQ(downloadFileError(code).description.find(std::strerror(code)), std::string::npos) << code;
    }
    EXPECT_EQ(downloadFileError(EACCES).description, "No hay permiso para guardar la descarga.");
    EXPECT_EQ(curlTransferError(CURLE_WEIRD_SERVER_REPLY, 0).description, "Error de conexión número 8.");
}

}  // namespace
}  // namespace orbitreel
