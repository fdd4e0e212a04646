#include "standins/hdiutil/iso_dates.h"

#include <array>
#include <cctype>
#include <cstdio>

namespace orbitreel::standins {

namespace {

using namespace std::chrono;

// Offsets from UTC run from -12:00 to +13:00 in quarter hours.
constexpr int EarliestOffset = -48;
constexpr int LatestOffset = 52;

struct Civil {
    int year, month, day, hour, minute, second, offset;
};

Result<std::int64_t> secondsOf(const Civil& civil) {
    const year_month_day date{year{civil.year}, month{static_cast<unsigned>(civil.month)},
                              day{static_cast<unsigned>(civil.day)}};
    if (!date.ok() || civil.hour > 23 || civil.minute > 59 || civil.second > 59 || civil.offset < EarliestOffset ||
        civil.offset > LatestOffset)
        return failure("not a date");
    const sys_seconds local = sys_days{date} + hours{civil.hour} + minutes{civil.minute} + seconds{civil.second};
    return (local - minutes{15 * civil.offset}).time_since_epoch().count();
}

Civil utcOf(std::int64_t moment) {
    const sys_seconds at{seconds{moment}};
    const sys_days day = floor<days>(at);
    const year_month_day date{day};
    const hh_mm_ss time{at - day};
    return {static_cast<int>(date.year()),
            static_cast<int>(static_cast<unsigned>(date.month())),
            static_cast<int>(static_cast<unsigned>(date.day())),
            static_cast<int>(time.hours().count()),
            static_cast<int>(time.minutes().count()),
            static_cast<int>(time.seconds().count()),
            0};
}

Result<int> digits(std::span<const std::uint8_t> field) {
    int value = 0;
    for (std::uint8_t c : field) {
        if (c < '0' || c > '9') return failure("not a date");
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

Result<std::optional<std::int64_t>> readShortDate(std::span<const std::uint8_t, ShortDateSize> field) {
    bool recorded = false;
    for (std::uint8_t c : field) recorded = recorded || c != 0;
    if (!recorded) return std::nullopt;
    auto seconds = secondsOf(
        {1900 + field[0], field[1], field[2], field[3], field[4], field[5], static_cast<std::int8_t>(field[6])});
    if (!seconds) return fail_with(seconds.error());
    return *seconds;
}

Result<std::optional<std::int64_t>> readLongDate(std::span<const std::uint8_t, LongDateSize> field) {
    bool recorded = field[16] != 0;
    for (std::size_t i = 0; i < 16; ++i) recorded = recorded || field[i] != '0';
    if (!recorded) return std::nullopt;
    Civil civil{};
    int* parts[] = {&civil.year, &civil.month, &civil.day, &civil.hour, &civil.minute, &civil.second};
    std::size_t at = 0;
    for (int* part : parts) {
        const std::size_t width = part == &civil.year ? 4 : 2;
        auto value = digits(field.subspan(at, width));
        if (!value) return fail_with(value.error());
        *part = *value;
        at += width;
    }
    if (!digits(field.subspan(14, 2))) return failure("not a date");  // hundredths
    civil.offset = static_cast<std::int8_t>(field[16]);
    auto seconds = secondsOf(civil);
    if (!seconds) return fail_with(seconds.error());
    return *seconds;
}

void writeShortDate(std::span<std::uint8_t, ShortDateSize> field, std::int64_t seconds) {
    const Civil civil = utcOf(seconds);
    field[0] = static_cast<std::uint8_t>(civil.year - 1900);
    field[1] = static_cast<std::uint8_t>(civil.month);
    field[2] = static_cast<std::uint8_t>(civil.day);
    field[3] = static_cast<std::uint8_t>(civil.hour);
    field[4] = static_cast<std::uint8_t>(civil.minute);
    field[5] = static_cast<std::uint8_t>(civil.second);
    field[6] = 0;
}

void writeLongDate(std::span<std::uint8_t, LongDateSize> field, std::int64_t seconds) {
    const Civil civil = utcOf(seconds);
    std::array<char, LongDateSize + 1> text{};
    std::snprintf(text.data(), text.size(), "%04d%02d%02d%02d%02d%02d00", civil.year, civil.month, civil.day,
                  civil.hour, civil.minute, civil.second);
    for (std::size_t i = 0; i < 16; ++i) field[i] = static_cast<std::uint8_t>(text[i]);
    field[16] = 0;
}

std::string ctimeText(std::int64_t seconds) {
    static constexpr const char* Weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const Civil civil = utcOf(seconds);
    const weekday day{floor<days>(sys_seconds{std::chrono::seconds{seconds}})};
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%s %s %2d %02d:%02d:%02d %d\n", Weekdays[day.c_encoding()],
                  Months[civil.month - 1], civil.day, civil.hour, civil.minute, civil.second, civil.year);
    return text.data();
}

bool looksLikeCtimeText(std::string_view text) {
    // "Www Mmm dd hh:mm:ss yyyy\n", the day padded with a blank.
    constexpr std::string_view Shape = "aaa aaa _d dd:dd:dd dddd\n";
    if (text.size() != Shape.size()) return false;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool fits = Shape[i] == 'a'   ? std::isalpha(c) != 0
                          : Shape[i] == 'd' ? std::isdigit(c) != 0
                          : Shape[i] == '_' ? c == ' ' || std::isdigit(c) != 0
                                            : c == static_cast<unsigned char>(Shape[i]);
        if (!fits) return false;
    }
    return true;
}

}  // namespace orbitreel::standins
