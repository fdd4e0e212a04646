#pragma once
// The date fields of an ISO 9660 volume, read and written as seconds since
// 1970 in UTC.
//
// Short form (7 bytes; directory records, Rock Ridge times): years since
// 1900, month, day, hour, minute, second, and the offset from UTC in
// quarter hours that the local time above carries.
// Long form (17 bytes; volume descriptors, Rock Ridge's long times):
// "YYYYMMDDHHMMSScc" in digits, then the same offset.
// All zeros in the short form, and zero digits with no offset in the long,
// mean that no date is recorded.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "standins/common/failure.h"

namespace orbitreel::standins {

inline constexpr std::size_t ShortDateSize = 7;
inline constexpr std::size_t LongDateSize = 17;

// The last second the short form holds (2155-12-31 23:59:59 UTC).
inline constexpr std::int64_t LatestIsoDate =
    std::chrono::sys_seconds{std::chrono::sys_days{std::chrono::year{2156} / 1 / 1}}.time_since_epoch().count() - 1;

// The moment a field records, nullopt when none; fails on a field that is
// no date (a month 13, an offset of a day).
Result<std::optional<std::int64_t>> readShortDate(std::span<const std::uint8_t, ShortDateSize> field);
Result<std::optional<std::int64_t>> readLongDate(std::span<const std::uint8_t, LongDateSize> field);

// Writes the moment in UTC (offset 0); `seconds` lies in 0..LatestIsoDate.
void writeShortDate(std::span<std::uint8_t, ShortDateSize> field, std::int64_t seconds);
void writeLongDate(std::span<std::uint8_t, LongDateSize> field, std::int64_t seconds);

// The moment as ctime(3) writes it, but in UTC: "Thu Jan  1 00:00:00 1970\n".
std::string ctimeText(std::int64_t seconds);
// Whether `text` has that shape (any time zone's).
bool looksLikeCtimeText(std::string_view text);

}  // namespace orbitreel::standins
