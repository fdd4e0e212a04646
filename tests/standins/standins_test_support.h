#pragma once
// Shared pieces of the stand-ins' tests and the release tool's: temporary
// folders, running the real tools, and building images (hostile ones
// included) with libarchive's writer.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orbitreel::standins::test_support {

namespace fs = std::filesystem;

// The programs under test, from the build.
inline const std::string Hdiutil = ORBITREEL_TEST_HDIUTIL;
inline const std::string Codesign = ORBITREEL_TEST_CODESIGN;
inline const std::string Ditto = ORBITREEL_TEST_DITTO;
inline const std::string WithoutKernelCopy = ORBITREEL_TEST_WITHOUT_KERNEL_COPY;
inline const std::string MakeRelease = ORBITREEL_TEST_MAKE_RELEASE;
inline const std::string DemoApp = ORBITREEL_TEST_DEMO_APP;
inline const std::string DevelopmentKey = ORBITREEL_TEST_DEVELOPMENT_KEY;
inline const std::string BuildRelease = ORBITREEL_TEST_BUILD_RELEASE;

// A fresh folder, deleted with everything in it (read-only parts included).
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

struct ToolRun {
    int status = -1;     // exit status, or -1 when killed or not started
    std::string errors;  // what it wrote to stderr
};
ToolRun runTool(const std::string& program, const std::vector<std::string>& arguments,
                const std::vector<std::string>& extraEnvironment = {});

// Permission bits mean nothing to root, and the tests run as root in CI:
// runs the program as the unprivileged user "nobody" when we are root, as
// ourselves otherwise.
inline constexpr uid_t Nobody = 65534;
ToolRun runUnprivileged(const std::string& program, const std::vector<std::string>& arguments);
// Hands a folder and everything in it to the user runUnprivileged runs as.
void giveToUnprivileged(const fs::path& folder);

void writeFile(const fs::path& path, const std::string& content, mode_t mode = 0644);
std::string readFile(const fs::path& path);
mode_t modeOf(const fs::path& path);  // permission bits, the link itself for links
// Names below `folder`, relative, sorted; links not followed.
std::vector<std::string> listTree(const fs::path& folder);

// A small bundle with what real ones hold: an executable, plain files, a
// link inside, an empty folder, deep nesting, names with spaces and accents.
void makeSampleBundle(const fs::path& bundle);

// One entry for libarchive's writer.
struct ImageEntry {
    std::string path{};
    mode_t type = S_IFREG;
    mode_t mode = 0644;
    std::string content{};   // files
    std::string target{};    // links
    std::string hardlink{};  // files written as a hard link
    std::int64_t mtime = 1700000000;
    unsigned rdev = 0;  // devices
};

// Writes an ISO 9660 image with Rock Ridge as hdiutil create does, applies
// byte patches (for what the writer refuses to write: names, kinds), and
// seals it like a genuine image.
struct BytePatch {
    std::string from;  // found once in the volume
    std::string to;    // same length
};
// Renames an entry in the image's Rock Ridge names, where the writer would
// not take the new name ("..", an absolute path, a name used twice).
inline BytePatch rockRidgeRename(const std::string& from, const std::string& to) {
    auto field = [](const std::string& name) {
        return std::string("NM") + char(5 + name.size()) + "\x01" + '\0' + name;
    };
    return {field(from), field(to)};
}
void writeIsoImage(const fs::path& image, const std::vector<ImageEntry>& entries,
                   const std::vector<BytePatch>& patches = {});
// An entry's Rock Ridge mode field as the writer writes it, to change the
// kind an entry's mode gives it.
std::string rockRidgeMode(mode_t mode);
// A directory record's extent (its first block and length), to move it.
std::string isoExtent(std::uint32_t block, std::uint32_t length);
// Replaces `from` wherever it is in a sealed image's volume (the primary and
// the Joliet tree both record an extent) and seals it again.
void patchSealed(const fs::path& image, const std::string& from, const std::string& to);

// A tar archive of the entries, which carries any name, kind or link.
void writeTarArchive(const fs::path& archive, const std::vector<ImageEntry>& entries);

// Replaces one occurrence of `from` (which must be present exactly once).
void patchOnce(const fs::path& file, const std::string& from, const std::string& to);
void truncateTo(const fs::path& file, std::uintmax_t size);
void flipByteAt(const fs::path& file, std::uintmax_t offset);
std::uintmax_t offsetOf(const fs::path& file, const std::string& needle);

}  // namespace orbitreel::standins::test_support
