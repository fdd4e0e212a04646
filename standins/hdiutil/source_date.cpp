#include "standins/hdiutil/source_date.h"

#include <charconv>
#include <cstdlib>
#include <string>

#include "standins/hdiutil/iso_dates.h"

namespace orbitreel::standins {

Result<std::int64_t> parseSourceDate(std::string_view text) {
    const auto refused = [&] {
        return failure("SOURCE_DATE_EPOCH must be a decimal number of seconds since 1970, at most " +
                       std::to_string(LatestIsoDate) + ", not '" + std::string(text) + "'");
    };
    // from_chars alone would take a sign and stop at the first stray character.
    if (text.empty() || text.size() > 19) return refused();
    for (char c : text)
        if (c < '0' || c > '9') return refused();
    std::int64_t seconds = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || seconds > LatestIsoDate) return refused();
    return seconds;
}

Result<std::optional<std::int64_t>> sourceDateFromEnvironment() {
    const char* value = std::getenv("SOURCE_DATE_EPOCH");
    if (value == nullptr) return std::nullopt;
    auto seconds = parseSourceDate(value);
    if (!seconds) return fail_with(seconds.error());
    return *seconds;
}

}  // namespace orbitreel::standins
