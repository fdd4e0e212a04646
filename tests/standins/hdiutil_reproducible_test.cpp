// hdiutil create with SOURCE_DATE_EPOCH: the same content gives the same
// image whatever the clock and time zone, and another date changes only the
// dates and the seal.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <thread>

#include "base/unique_fd.h"
#include "standins/hdiutil/image_seal.h"
#include "standins/hdiutil/volume_dates.h"
#include "tests/standins/standins_test_support.h"

namespace orbitreel::standins::test_support {
namespace {

constexpr std::int64_t SourceDate = 1700000000;   // 2023-11-14 22:13:20 UTC
constexpr std::int64_t OtherDate = 1710000000;    // 2024-03-09 16:00:00 UTC
constexpr std::int64_t EarlierTime = 1600000000;  // before both

// The three ways an image records a moment, written here with the C library
// in UTC: a directory record's or Rock Ridge's 7 bytes, a volume
// descriptor's 17, and ctime's text in the writer's note.
enum class DateForm { Short, Long, Text };

std::string encoded(std::int64_t moment, DateForm form) {
    const time_t seconds = static_cast<time_t>(moment);
    struct tm utc {};
    ::gmtime_r(&seconds, &utc);
    char text[64] = {};
    switch (form) {
        case DateForm::Short:
            return {static_cast<char>(utc.tm_year),
                    static_cast<char>(utc.tm_mon + 1),
                    static_cast<char>(utc.tm_mday),
                    static_cast<char>(utc.tm_hour),
                    static_cast<char>(utc.tm_min),
                    static_cast<char>(utc.tm_sec),
                    '\0'};
        case DateForm::Long:
            ::strftime(text, sizeof text, "%Y%m%d%H%M%S00", &utc);
            return std::string(text) + '\0';
        case DateForm::Text:
            return ::asctime_r(&utc, text);
    }
    return {};
}

// Expects two images, the first pinned to `first` and the second to
// `second`, to differ only where the first records `first` (and the second
// `second` in its place) or from `sealFrom` on; counts those places by form.
std::map<DateForm, int> expectOnlyDatesDiffer(const std::string& a, const std::string& b, std::int64_t first,
                                              std::int64_t second, std::size_t sealFrom) {
    std::map<DateForm, int> found;
    EXPECT_EQ(a.size(), b.size());
    if (a.size() != b.size()) return found;
    std::vector<bool> dates(a.size(), false);
    for (DateForm form : {DateForm::Short, DateForm::Long, DateForm::Text}) {
        const std::string mine = encoded(first, form), theirs = encoded(second, form);
        for (std::size_t at = a.find(mine); at != std::string::npos; at = a.find(mine, at + 1)) {
            EXPECT_EQ(b.substr(at, theirs.size()), theirs) << "at byte " << at;
            std::fill(dates.begin() + static_cast<std::ptrdiff_t>(at),
                      dates.begin() + static_cast<std::ptrdiff_t>(at + mine.size()), true);
            ++found[form];
        }
    }
    for (std::size_t at = 0; at < sealFrom; ++at) {
        if (a[at] != b[at] && !dates[at]) {
            ADD_FAILURE() << "byte " << at << " differs outside every date";
            break;
        }
    }
    return found;
}

ToolRun createWith(const std::vector<std::string>& environment, const fs::path& source, const fs::path& image) {
    std::vector<std::string> arguments = environment;
    arguments.insert(arguments.end(), {Hdiutil, "create", "-srcfolder", source.string(), image.string()});
    return runTool("/usr/bin/env", arguments);
}

void setTimes(const fs::path& path, std::int64_t seconds) {
    const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

std::int64_t modified(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mtim.tv_sec;
}

class HdiutilReproducible : public ::testing::Test {
protected:
    void SetUp() override {
        // Deep enough that the writer makes a folder of its own for the deepest.
        makeSampleBundle(source / "Orbitreel.app");
        writeFile(source / "old.txt", "older than the source date\n");
        setTimes(source / "old.txt", EarlierTime);
    }

    TempDir dir;
    fs::path source = dir / "source";
};

TEST_F(HdiutilReproducible, TheSameSourceDateGivesTheSameImageWhateverTheClockAndTimeZone) {
    const std::string date = "SOURCE_DATE_EPOCH=" + std::to_string(SourceDate);
    const fs::path first = dir / "first.dmg", second = dir / "second.dmg";
    ToolRun made = createWith({date, "TZ=UTC"}, source, first);
    ASSERT_EQ(made.status, 0) << made.errors;

    // Another second on the clock, new times on the inputs, another zone.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    for (const auto& entry : fs::recursive_directory_iterator(source)) {
        if (entry.path().filename() == "old.txt") continue;
        ASSERT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), nullptr, AT_SYMLINK_NOFOLLOW), 0);
    }
    made = createWith({date, "TZ=Asia/Kolkata"}, source, second);
    ASSERT_EQ(made.status, 0) << made.errors;
    EXPECT_TRUE(readFile(first) == readFile(second)) << "the two images differ";

    // Later times became the source date; an earlier one stayed.
    const fs::path mount = dir / "mount";
    fs::create_directory(mount);
    ASSERT_EQ(runTool(Hdiutil, {"verify", second.string()}).status, 0);
    ASSERT_EQ(
        runTool(Hdiutil, {"attach", second.string(), "-readonly", "-nobrowse", "-mountpoint", mount.string()}).status,
        0);
    EXPECT_EQ(modified(mount / "old.txt"), EarlierTime);
    const fs::path contents = mount / "Orbitreel.app/Contents";
    EXPECT_EQ(modified(contents / "Info.plist"), SourceDate);
    EXPECT_EQ(modified(contents / "Resources/Info link"), SourceDate);
    EXPECT_EQ(modified(contents / "Frameworks/a/b/c/d/e/f/g/h/i/deep.txt"), SourceDate);
    EXPECT_EQ(runTool(Hdiutil, {"detach", mount.string()}).status, 0);
}

TEST_F(HdiutilReproducible, AnotherSourceDateChangesOnlyTheDatesAndTheSeal) {
    const fs::path first = dir / "first.dmg", second = dir / "second.dmg";
    ToolRun made = createWith({"SOURCE_DATE_EPOCH=" + std::to_string(SourceDate), "TZ=Asia/Kolkata"}, source, first);
    ASSERT_EQ(made.status, 0) << made.errors;
    made = createWith({"SOURCE_DATE_EPOCH=" + std::to_string(OtherDate), "TZ=America/St_Johns"}, source, second);
    ASSERT_EQ(made.status, 0) << made.errors;
    EXPECT_EQ(runTool(Hdiutil, {"verify", first.string()}).status, 0);
    EXPECT_EQ(runTool(Hdiutil, {"verify", second.string()}).status, 0);

    const std::string a = readFile(first), b = readFile(second);
    ASSERT_GT(a.size(), SealSize);
    auto found = expectOnlyDatesDiffer(a, b, SourceDate, OtherDate, a.size() - SealSize);
    // The volume's creation, modification and effective dates (it sets no
    // expiration), the writer's note, and a date and three Rock Ridge times
    // for every record of the two dozen the sample takes.
    EXPECT_EQ(found[DateForm::Long], 3);
    EXPECT_EQ(found[DateForm::Text], 1);
    EXPECT_GT(found[DateForm::Short], 4 * 20);
    EXPECT_NE(a.substr(a.size() - SealSize), b.substr(b.size() - SealSize));
}

TEST_F(HdiutilReproducible, RefusesASourceDateThatIsNoNumberOfSeconds) {
    const auto before = listTree(dir.path());
    for (const std::string value :
         {"", "abc", "-1", "+5", " 5", "5 ", "1e9", "0x10", "5869584000", "99999999999999999999999"}) {
        SCOPED_TRACE("'" + value + "'");
        ToolRun run = createWith({"SOURCE_DATE_EPOCH=" + value}, source, dir / "image.dmg");
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.errors.find("SOURCE_DATE_EPOCH"), std::string::npos) << run.errors;
        EXPECT_EQ(listTree(dir.path()), before);
    }
    // The first and the last second an image's dates hold.
    for (const std::string value : {"0", "5869583999"}) {
        SCOPED_TRACE(value);
        const fs::path image = dir / ("at-" + value + ".dmg");
        ToolRun run = createWith({"SOURCE_DATE_EPOCH=" + value}, source, image);
        EXPECT_EQ(run.status, 0) << run.errors;
        EXPECT_EQ(runTool(Hdiutil, {"verify", image.string()}).status, 0);
    }
}

// hdiutil writes no Joliet tree and only volumes of its own writer: the
// library alone meets a supplementary tree and volumes it cannot read.
class VolumeDates : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<ImageEntry> entries = {
            {.path = "Orbitreel.app", .type = S_IFDIR, .mode = 0755, .mtime = EarlierTime},
            {.path = "Orbitreel.app/Info.plist", .content = "<plist/>\n", .mtime = EarlierTime},
            {.path = "zz-later.txt", .content = "later\n", .mtime = OtherDate + 1000},
        };
        writeIsoImage(volume, entries);
        truncateTo(volume, fs::file_size(volume) - SealSize);
    }

    static Result<void> pin(const fs::path& image, std::int64_t date) {
        base::UniqueFd fd(::open(image.c_str(), O_RDWR | O_CLOEXEC));
        EXPECT_TRUE(fd);
        return pinVolumeDates(fd.get(), date);
    }

    TempDir dir;
    fs::path volume = dir / "volume.iso";
};

TEST_F(VolumeDates, PinsTheSupplementaryTreeLikeThePrimary) {
    const fs::path first = dir / "first.iso", second = dir / "second.iso";
    fs::copy_file(volume, first);
    fs::copy_file(volume, second);
    ASSERT_TRUE(pin(first, SourceDate));
    ASSERT_TRUE(pin(second, OtherDate));
    const std::string a = readFile(first);
    auto found = expectOnlyDatesDiffer(a, readFile(second), SourceDate, OtherDate, a.size());
    EXPECT_EQ(found[DateForm::Long], 6);
    // A time earlier than the date stays, in both trees and in Rock Ridge.
    int earlier = 0;
    const std::string kept = encoded(EarlierTime, DateForm::Short);
    for (std::size_t at = a.find(kept); at != std::string::npos; at = a.find(kept, at + 1)) ++earlier;
    EXPECT_GE(earlier, 6);
}

TEST_F(VolumeDates, RefusesWhatItCannotReadAndLeavesTheVolumeAsItWas) {
    const std::string pristine = readFile(volume);
    const std::size_t primary = 16 * 2048;
    const std::size_t root = primary + 156;
    const auto rootBlock = static_cast<std::uint32_t>(static_cast<unsigned char>(pristine[root + 2]) |
                                                      static_cast<unsigned char>(pristine[root + 3]) << 8);
    // The root's third record names the first entry in it, a folder.
    const std::size_t rootExtent = std::size_t{rootBlock} * 2048;
    const std::size_t dot = static_cast<unsigned char>(pristine[rootExtent]);
    const std::size_t folder = rootExtent + dot + static_cast<unsigned char>(pristine[rootExtent + dot]);

    const std::vector<std::pair<std::string, std::function<void(std::string&)>>> damages = {
        {"cut off after the descriptors", [](std::string& v) { v.resize(18 * 2048); }},
        {"no descriptor identifier", [&](std::string& v) { v[primary + 5] = '2'; }},
        {"a month 13", [&](std::string& v) { v[root + 18 + 1] = 13; }},
        {"an extent's halves disagree", [&](std::string& v) { v[root + 2] ^= 1; }},
        {"a folder inside itself", [&](std::string& v) { v.replace(folder + 2, 16, isoExtent(rootBlock, 2048)); }},
        {"a folder shorter than its records",
         [&](std::string& v) { v.replace(root + 2, 16, isoExtent(rootBlock, 40)); }},
    };
    for (const auto& [name, damage] : damages) {
        SCOPED_TRACE(name);
        std::string damaged = pristine;
        damage(damaged);
        const fs::path image = dir / "damaged.iso";
        writeFile(image, damaged);
        EXPECT_FALSE(pin(image, SourceDate));
        EXPECT_TRUE(readFile(image) == damaged) << "the volume was changed";
    }
    EXPECT_TRUE(pin(volume, SourceDate));
}

}  // namespace
}  // namespace orbitreel::standins::test_support
