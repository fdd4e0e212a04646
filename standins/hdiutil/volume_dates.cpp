#include "standins/hdiutil/volume_dates.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "standins/hdiutil/iso_dates.h"

namespace orbitreel::standins {

namespace {

using Bytes = std::span<std::uint8_t>;

constexpr std::uint64_t BlockSize = 2048;
constexpr std::uint64_t FirstDescriptorBlock = 16;
// Bounds for the walk; our writer's volumes stay far within them.
constexpr int MaxDescriptors = 16;
constexpr int MaxFolderDepth = 64;
constexpr int MaxContinuations = 16;

// A volume descriptor: its type, the identifier and version, the volume's
// size in blocks, the type L path table's block, the root's directory
// record, and the creation, modification, expiration and effective dates.
constexpr std::uint8_t PrimaryDescriptor = 1, SupplementaryDescriptor = 2, DescriptorSetTerminator = 255;
constexpr std::string_view DescriptorIdentifier = "CD001";
constexpr std::size_t VolumeSpaceSizeAt = 80, PathTableAt = 140, RootRecordAt = 156, RootRecordSize = 34;
constexpr std::size_t DescriptorDatesAt[] = {813, 830, 847, 864};

// A directory record: its length, extent and data length (both-endian),
// recording date, flags, and identifier, then its System Use area.
constexpr std::size_t ExtentAt = 2, DataLengthAt = 10, RecordDateAt = 18, FlagsAt = 25, NameLengthAt = 32, NameAt = 33;
constexpr std::size_t MinRecordSize = 34;
constexpr std::uint8_t DirectoryFlag = 0x02;

// The writer's note after the descriptor set: "INFO ", its clock in ctime's
// form, then its version and options.
constexpr std::string_view WriterNote = "INFO ";
constexpr std::size_t CtimeTextSize = 25;

Result<void> refuse(const std::string& what) { return failure("cannot pin the image's dates: " + what); }

// A 32-bit number recorded little-endian, then big-endian; both must agree.
Result<std::uint32_t> bothEndian(std::span<const std::uint8_t> bytes, std::size_t at) {
    if (at + 8 > bytes.size()) return failure("a both-endian number runs past its record");
    std::uint32_t little = 0, big = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        little |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
        big = (big << 8) | bytes[at + 4 + i];
    }
    if (little != big) return failure("a both-endian number's halves differ");
    return little;
}

std::uint32_t littleEndian(std::span<const std::uint8_t> bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
    return value;
}

// The blocks that hold dates, read once and changed in memory; written back
// only once every date in the volume was understood.
class Blocks {
public:
    Blocks(int fd, std::uint64_t count) : fd_(fd), count_(count) {}

    std::uint64_t count() const { return count_; }
    void setCount(std::uint64_t count) { count_ = count; }

    Result<Bytes> at(std::uint64_t block) {
        if (block >= count_) return failure("block " + std::to_string(block) + " lies past the volume's end");
        auto [found, added] = blocks_.try_emplace(block);
        if (added) {
            found->second.resize(BlockSize);
            const ssize_t got = ::pread(fd_, found->second.data(), BlockSize, static_cast<off_t>(block * BlockSize));
            if (got != static_cast<ssize_t>(BlockSize)) {
                const int error = got < 0 ? errno : EIO;
                blocks_.erase(found);
                return failure("cannot read the image", error);
            }
        }
        return Bytes(found->second);
    }

    Result<void> writeBack() {
        for (const auto& [block, bytes] : blocks_) {
            if (::pwrite(fd_, bytes.data(), BlockSize, static_cast<off_t>(block * BlockSize)) !=
                static_cast<ssize_t>(BlockSize))
                return failure("cannot write the image", errno);
        }
        return {};
    }

private:
    int fd_;
    std::uint64_t count_;
    std::map<std::uint64_t, std::vector<std::uint8_t>> blocks_;
};

class DatePinner {
public:
    DatePinner(Blocks& blocks, std::int64_t sourceDate, std::optional<std::int64_t> writerClock)
        : blocks_(blocks), sourceDate_(sourceDate), writerClock_(writerClock) {}

    // A primary or supplementary descriptor's dates and its whole tree.
    Result<void> volume(std::uint64_t block) {
        auto descriptor = blocks_.at(block);
        if (!descriptor) return fail_with(descriptor.error());
        for (std::size_t at : DescriptorDatesAt) {
            auto pinned = longDate(descriptor->subspan(at).first<LongDateSize>());
            if (!pinned)
                return refuse("a date of the volume descriptor at block " + std::to_string(block) + " " +
                              pinned.error().localizedDescription());
        }
        Bytes root = descriptor->subspan(RootRecordAt, RootRecordSize);
        if (root[0] != RootRecordSize || (root[FlagsAt] & DirectoryFlag) == 0 || root[NameLengthAt] != 1 ||
            root[NameAt] != 0)
            return refuse("the volume descriptor at block " + std::to_string(block) + " has no root folder");
        auto pinned = shortDate(root.subspan(RecordDateAt).first<ShortDateSize>());
        if (!pinned) return refuse("the root folder's date " + pinned.error().localizedDescription());
        visited_.clear();
        skip_ = 0;
        return folderAt(root, 0);
    }

    // The writer's note of its clock, in the block after the descriptor set
    // when that block is not the path table.
    Result<void> writerNote(std::uint64_t block, std::uint64_t pathTable) {
        if (block == pathTable || block >= blocks_.count()) return {};
        auto bytes = blocks_.at(block);
        if (!bytes) return fail_with(bytes.error());
        const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        if (!text.starts_with(WriterNote)) return {};
        if (!looksLikeCtimeText(text.substr(WriterNote.size(), CtimeTextSize)))
            return refuse("the writer's note at block " + std::to_string(block) + " holds no time");
        // The note holds nothing but the writer's clock.
        const std::string pinned = ctimeText(sourceDate_);
        std::copy(pinned.begin(), pinned.end(), bytes->begin() + static_cast<std::ptrdiff_t>(WriterNote.size()));
        return {};
    }

private:
    std::int64_t pinned(std::int64_t moment) const {
        return moment == writerClock_ ? sourceDate_ : std::min(moment, sourceDate_);
    }

    Result<void> shortDate(std::span<std::uint8_t, ShortDateSize> field) {
        auto moment = readShortDate(field);
        if (!moment) return failure("is no date");
        if (*moment) writeShortDate(field, pinned(**moment));
        return {};
    }

    Result<void> longDate(std::span<std::uint8_t, LongDateSize> field) {
        auto moment = readLongDate(field);
        if (!moment) return failure("is no date");
        if (*moment) writeLongDate(field, pinned(**moment));
        return {};
    }

    // The folder a directory record names.
    Result<void> folderAt(Bytes record, int depth) {
        auto extent = bothEndian(record, ExtentAt);
        if (!extent) return refuse(extent.error().localizedDescription());
        auto length = bothEndian(record, DataLengthAt);
        if (!length) return refuse(length.error().localizedDescription());
        const std::string where = "the folder at block " + std::to_string(*extent);
        if (depth > MaxFolderDepth) return refuse(where + " lies deeper than " + std::to_string(MaxFolderDepth));
        if (*length == 0) return refuse(where + " is empty");
        if (!visited_.insert(*extent).second) return refuse(where + " is reached twice");

        std::size_t index = 0;
        const bool isRoot = depth == 0;
        for (std::uint64_t done = 0; done < *length; done += BlockSize) {
            auto bytes = blocks_.at(*extent + done / BlockSize);
            if (!bytes) return refuse(where + ": " + bytes.error().localizedDescription());
            const std::size_t end = static_cast<std::size_t>(std::min<std::uint64_t>(BlockSize, *length - done));
            // A record never crosses a block; zeros fill the rest of one.
            for (std::size_t at = 0; at < end && (*bytes)[at] != 0;) {
                const std::size_t size = (*bytes)[at];
                if (size < MinRecordSize || at + size > end)
                    return refuse(where + " has a directory record that does not fit its block");
                auto pinned = entry(bytes->subspan(at, size), index++, isRoot, depth);
                if (!pinned) return pinned;
                at += size;
            }
        }
        if (index < 2) return refuse(where + " lacks its '.' and '..' records");
        return {};
    }

    // One directory record: its date, its Rock Ridge times, and the folder
    // it names.
    Result<void> entry(Bytes record, std::size_t index, bool inRoot, int depth) {
        const std::size_t nameLength = record[NameLengthAt];
        if (NameAt + nameLength > record.size()) return refuse("a directory record's name runs past its end");
        const bool dotName = nameLength == 1 && record[NameAt] <= 1;
        const bool expected = index == 0   ? dotName && record[NameAt] == 0
                              : index == 1 ? dotName && record[NameAt] == 1
                                           : !dotName;
        if (!expected) return refuse("a folder's records do not begin with '.' and '..' alone");
        auto pinned = shortDate(record.subspan(RecordDateAt).first<ShortDateSize>());
        if (!pinned) return refuse("a directory record's date " + pinned.error().localizedDescription());

        // The System Use area follows the name, padded to an even length.
        const std::size_t systemUseAt = NameAt + nameLength + (nameLength % 2 == 0 ? 1 : 0);
        if (systemUseAt > record.size()) return refuse("a directory record is shorter than its name");
        Bytes systemUse = record.subspan(systemUseAt);
        if (inRoot && index == 0) {
            skip_ = sharingProtocolSkip(systemUse);
        } else {
            if (skip_ > systemUse.size()) return refuse("a System Use area is shorter than the bytes it skips");
            systemUse = systemUse.subspan(skip_);
        }
        auto times = systemUseArea(systemUse, MaxContinuations);
        if (!times) return times;

        if (index >= 2 && (record[FlagsAt] & DirectoryFlag) != 0) return folderAt(record, depth + 1);
        return {};
    }

    // The bytes every System Use area skips, as the root's "SP" entry says.
    static std::size_t sharingProtocolSkip(std::span<const std::uint8_t> area) {
        if (area.size() >= 7 && area[0] == 'S' && area[1] == 'P' && area[2] == 7 && area[4] == 0xBE && area[5] == 0xEF)
            return area[6];
        return 0;
    }

    Result<void> systemUseArea(Bytes area, int continuationsLeft) {
        // Entries begin with two capitals; a zero starts the padding.
        for (std::size_t at = 0; area.size() - at >= 4 && area[at] != 0;) {
            const std::size_t size = area[at + 2];
            if (size < 4 || at + size > area.size()) return refuse("a System Use entry does not fit its area");
            Bytes item = area.subspan(at, size);
            const std::string_view signature(reinterpret_cast<const char*>(item.data()), 2);
            if (signature == "ST") break;
            Result<void> pinned;
            if (signature == "TF") pinned = timeEntry(item);
            if (signature == "CE") pinned = continuation(item, continuationsLeft);
            if (!pinned) return pinned;
            at += size;
        }
        return {};
    }

    // "TF": a flag per time recorded, then the times in the short form, or in
    // the long one when the top flag is set.
    Result<void> timeEntry(Bytes item) {
        if (item.size() < 5) return refuse("a Rock Ridge time entry is too short");
        const std::uint8_t flags = item[4];
        const bool longForm = (flags & 0x80) != 0;
        const std::size_t width = longForm ? LongDateSize : ShortDateSize;
        const std::size_t count = static_cast<std::size_t>(std::popcount(static_cast<unsigned>(flags & 0x7F)));
        if (item.size() != 5 + count * width) return refuse("a Rock Ridge time entry's length differs from its flags");
        for (std::size_t i = 0; i < count; ++i) {
            Bytes field = item.subspan(5 + i * width, width);
            auto pinned = longForm ? longDate(field.first<LongDateSize>()) : shortDate(field.first<ShortDateSize>());
            if (!pinned) return refuse("a Rock Ridge time " + pinned.error().localizedDescription());
        }
        return {};
    }

    // "CE": more of the area, elsewhere in the volume.
    Result<void> continuation(Bytes item, int continuationsLeft) {
        if (item.size() != 28) return refuse("a continuation entry has the wrong length");
        if (continuationsLeft == 0) return refuse("a System Use area continues too often");
        auto block = bothEndian(item, 4);
        auto offset = bothEndian(item, 12);
        auto length = bothEndian(item, 20);
        if (!block || !offset || !length) return refuse("a continuation entry's numbers disagree");
        if (*offset > BlockSize || *length > BlockSize - *offset)
            return refuse("a continuation area does not fit its block");
        auto bytes = blocks_.at(*block);
        if (!bytes) return refuse(bytes.error().localizedDescription());
        return systemUseArea(bytes->subspan(*offset, *length), continuationsLeft - 1);
    }

    Blocks& blocks_;
    std::int64_t sourceDate_;
    std::optional<std::int64_t> writerClock_;
    std::set<std::uint32_t> visited_;  // folders' extents in the current tree
    std::size_t skip_ = 0;
};

}  // namespace

Result<void> pinVolumeDates(int image, std::int64_t sourceDate) {
    struct stat st {};
    if (::fstat(image, &st) != 0) return failure("cannot read the image", errno);
    Blocks blocks(image, static_cast<std::uint64_t>(st.st_size) / BlockSize);

    // The descriptor set: a primary, perhaps supplementaries, a terminator.
    std::vector<std::uint64_t> volumes;
    std::optional<std::uint64_t> terminator;
    for (int i = 0; i < MaxDescriptors && !terminator; ++i) {
        const std::uint64_t block = FirstDescriptorBlock + static_cast<std::uint64_t>(i);
        auto bytes = blocks.at(block);
        if (!bytes) return refuse("no volume descriptor set: " + bytes.error().localizedDescription());
        const std::string_view identifier(reinterpret_cast<const char*>(bytes->data()) + 1,
                                          DescriptorIdentifier.size());
        if (identifier != DescriptorIdentifier)
            return refuse("block " + std::to_string(block) + " is no volume descriptor");
        const std::uint8_t type = (*bytes)[0];
        if (type == DescriptorSetTerminator) terminator = block;
        if (type == PrimaryDescriptor || type == SupplementaryDescriptor) volumes.push_back(block);
    }
    if (!terminator) return refuse("the volume descriptor set has no end");
    if (volumes.empty()) return refuse("no primary volume descriptor");
    auto primary = blocks.at(volumes.front());
    if (!primary || (*primary)[0] != PrimaryDescriptor) return refuse("no primary volume descriptor comes first");

    auto volumeBlocks = bothEndian(*primary, VolumeSpaceSizeAt);
    if (!volumeBlocks) return refuse(volumeBlocks.error().localizedDescription());
    if (*volumeBlocks > blocks.count()) return refuse("the volume is larger than the image");
    blocks.setCount(*volumeBlocks);
    const std::uint64_t pathTable = littleEndian(*primary, PathTableAt);

    // The writer records its clock as the volume's creation.
    auto clock = readLongDate(primary->subspan(DescriptorDatesAt[0]).first<LongDateSize>());
    if (!clock) return refuse("the volume's creation date is no date");

    DatePinner pinner(blocks, sourceDate, *clock);
    for (std::uint64_t block : volumes) {
        auto pinned = pinner.volume(block);
        if (!pinned) return pinned;
    }
    auto noted = pinner.writerNote(*terminator + 1, pathTable);
    if (!noted) return noted;
    return blocks.writeBack();
}

}  // namespace orbitreel::standins
