#include "tests/standins/standins_test_support.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <grp.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/interrupted.h"
#include "standins/hdiutil/image_seal.h"

extern char** environ;

namespace orbitreel::standins::test_support {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/helpers-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code error;
    // Attached content is read-only; give the owner write access back first.
    for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) ::chmod(it->path().c_str(), 0700);
    }
    ::chmod(path_.c_str(), 0700);
    fs::remove_all(path_, error);
}

ToolRun runTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::vector<std::string>& extraEnvironment) {
    char errorsPath[] = "/tmp/helpers-test-stderr-XXXXXX";
    int errorsFd = ::mkstemp(errorsPath);
    if (errorsFd < 0) throw std::runtime_error("mkstemp failed");

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : argStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings;
    for (char** entry = environ; *entry != nullptr; ++entry) envStrings.emplace_back(*entry);
    envStrings.insert(envStrings.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (auto& entry : envStrings) envp.push_back(entry.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, errorsFd, 2);
    pid_t pid = 0;
    int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ToolRun run;
    if (spawned == 0) {
        int status = 0;
        base::retryInterrupted([&] { return ::waitpid(pid, &status, 0); });
        if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
    }
    ::close(errorsFd);
    run.errors = readFile(errorsPath);
    ::unlink(errorsPath);
    return run;
}

ToolRun runUnprivileged(const std::string& program, const std::vector<std::string>& arguments) {
    if (::geteuid() != 0) return runTool(program, arguments);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& arg : argStrings) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(Nobody, Nobody, Nobody) != 0 ||
            ::setresuid(Nobody, Nobody, Nobody) != 0)
            ::_exit(126);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ToolRun run;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.status = WEXITSTATUS(status);
    return run;
}

void giveToUnprivileged(const fs::path& folder) {
    if (::geteuid() != 0) return;
    ::lchown(folder.c_str(), Nobody, Nobody);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) ::lchown(entry.path().c_str(), Nobody, Nobody);
}

void writeFile(const fs::path& path, const std::string& content, mode_t mode) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) throw std::runtime_error("cannot write " + path.string());
    }
    fs::permissions(path, static_cast<fs::perms>(mode));
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

mode_t modeOf(const fs::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return static_cast<mode_t>(-1);
    return st.st_mode & 07777;
}

std::vector<std::string> listTree(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
         it.increment(error))
        names.push_back(fs::relative(it->path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

void makeSampleBundle(const fs::path& bundle) {
    const fs::path contents = bundle / "Contents";
    fs::create_directories(contents / "MacOS");
    fs::create_directories(contents / "Resources" / "Empty Folder");
    fs::create_directories(contents / "Frameworks" / "a" / "b" / "c" / "d" / "e" / "f" / "g" / "h" / "i");
    writeFile(contents / "Info.plist",
              "<plist><dict><key>CFBundleIdentifier</key><string>app.orbitreel.Orbitreel</string></dict></plist>\n");
    writeFile(contents / "MacOS" / "Orbitreel", "#!/bin/sh\necho orbitreel\n", 0755);
    writeFile(contents / "Resources" / "Canción de prueba.txt", "ñandú\n");
    writeFile(contents / "Resources" / std::string(120, 'n'), "long name\n", 0600);
    writeFile(contents / "Frameworks" / "a" / "b" / "c" / "d" / "e" / "f" / "g" / "h" / "i" / "deep.txt", "deep\n");
    fs::create_symlink("../Info.plist", contents / "Resources" / "Info link");
    fs::create_symlink("a/b/c", contents / "Frameworks" / "Current");
}

namespace {

struct WriterDeleter {
    void operator()(struct archive* writer) const { archive_write_free(writer); }
};

void writeEntries(struct archive* writer, const std::vector<ImageEntry>& entries) {
    for (const ImageEntry& item : entries) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, item.path.c_str());
        archive_entry_set_filetype(entry, item.type);
        archive_entry_set_perm(entry, item.mode);
        archive_entry_set_mtime(entry, item.mtime, 0);
        archive_entry_set_uid(entry, 0);
        archive_entry_set_gid(entry, 0);
        if (item.type == S_IFLNK) archive_entry_set_symlink(entry, item.target.c_str());
        if (!item.hardlink.empty()) archive_entry_set_hardlink(entry, item.hardlink.c_str());
        if (item.type == S_IFCHR || item.type == S_IFBLK) archive_entry_set_rdev(entry, item.rdev);
        archive_entry_set_size(
            entry, item.type == S_IFREG && item.hardlink.empty() ? static_cast<la_int64_t>(item.content.size()) : 0);
        if (archive_write_header(writer, entry) != ARCHIVE_OK)
            throw std::runtime_error("writer refused " + item.path + ": " + archive_error_string(writer));
        if (!item.content.empty() && item.hardlink.empty())
            archive_write_data(writer, item.content.data(), item.content.size());
        archive_entry_free(entry);
    }
}

}  // namespace

void writeIsoImage(const fs::path& image, const std::vector<ImageEntry>& entries,
                   const std::vector<BytePatch>& patches) {
    {
        std::unique_ptr<struct archive, WriterDeleter> writer(archive_write_new());
        archive_write_set_format_iso9660(writer.get());
        archive_write_set_format_option(writer.get(), "iso9660", "rockridge", "strict");
        if (archive_write_open_filename(writer.get(), image.c_str()) != ARCHIVE_OK)
            throw std::runtime_error("cannot open " + image.string());
        writeEntries(writer.get(), entries);
        if (archive_write_close(writer.get()) != ARCHIVE_OK) throw std::runtime_error("cannot close the image");
    }
    for (const BytePatch& patch : patches) patchOnce(image, patch.from, patch.to);
    auto sealed = sealImage(image);
    if (!sealed) throw std::runtime_error(sealed.error().localizedDescription());
}

namespace {

// Both byte orders, as ISO 9660 records its numbers.
std::string bothEndian(std::uint32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xff);
    for (int i = 3; i >= 0; --i) bytes += static_cast<char>((value >> (8 * i)) & 0xff);
    return bytes;
}

}  // namespace

std::string rockRidgeMode(mode_t mode) { return std::string("PX\x2c\x01", 4) + bothEndian(mode); }

std::string isoExtent(std::uint32_t block, std::uint32_t length) { return bothEndian(block) + bothEndian(length); }

void patchSealed(const fs::path& image, const std::string& from, const std::string& to) {
    truncateTo(image, fs::file_size(image) - SealSize);
    std::string volume = readFile(image);
    std::size_t at = volume.find(from);
    if (at == std::string::npos || from.size() != to.size()) throw std::runtime_error("cannot patch " + image.string());
    for (; at != std::string::npos; at = volume.find(from, at + to.size())) volume.replace(at, from.size(), to);
    {
        std::ofstream out(image, std::ios::binary | std::ios::trunc);
        out << volume;
    }
    auto sealed = sealImage(image);
    if (!sealed) throw std::runtime_error(sealed.error().localizedDescription());
}

void writeTarArchive(const fs::path& archive, const std::vector<ImageEntry>& entries) {
    std::unique_ptr<struct archive, WriterDeleter> writer(archive_write_new());
    archive_write_set_format_pax_restricted(writer.get());
    if (archive_write_open_filename(writer.get(), archive.c_str()) != ARCHIVE_OK)
        throw std::runtime_error("cannot open " + archive.string());
    writeEntries(writer.get(), entries);
    archive_write_close(writer.get());
}

std::uintmax_t offsetOf(const fs::path& file, const std::string& needle) {
    const std::string content = readFile(file);
    std::size_t at = content.find(needle);
    if (at == std::string::npos) throw std::runtime_error("not found in " + file.string() + ": " + needle);
    if (content.find(needle, at + 1) != std::string::npos) throw std::runtime_error("found twice: " + needle);
    return at;
}

void patchOnce(const fs::path& file, const std::string& from, const std::string& to) {
    if (from.size() != to.size()) throw std::runtime_error("a patch keeps the length");
    std::uintmax_t at = offsetOf(file, from);
    std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
    io.seekp(static_cast<std::streamoff>(at));
    io.write(to.data(), static_cast<std::streamsize>(to.size()));
}

void truncateTo(const fs::path& file, std::uintmax_t size) { fs::resize_file(file, size); }

void flipByteAt(const fs::path& file, std::uintmax_t offset) {
    std::fstream io(file, std::ios::binary | std::ios::in | std::ios::out);
    io.seekg(static_cast<std::streamoff>(offset));
    char byte = 0;
    io.read(&byte, 1);
    byte = static_cast<char>(byte ^ 0x01);
    io.seekp(static_cast<std::streamoff>(offset));
    io.write(&byte, 1);
}

}  // namespace orbitreel::standins::test_support
