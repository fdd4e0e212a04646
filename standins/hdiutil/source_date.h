#pragma once
// SOURCE_DATE_EPOCH: the moment, in seconds since 1970 UTC, that a
// reproducible build pins an image's times to, whatever the builder's clock
// and time zone.

#include <cstdint>
#include <optional>
#include <string_view>

#include "standins/common/failure.h"

namespace orbitreel::standins {

// The value of SOURCE_DATE_EPOCH; nullopt when it is not set. A value that is
// not a decimal number of seconds an image can record fails.
Result<std::optional<std::int64_t>> sourceDateFromEnvironment();
Result<std::int64_t> parseSourceDate(std::string_view text);

}  // namespace orbitreel::standins
