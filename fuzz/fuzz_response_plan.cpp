// What the URL session does with a response, from any status and header
// values a server can send. The input is lines of text: the status, the
// offset the request asked from, then Location, Content-Range,
// Content-Length ("~" for none), ETag and Last-Modified.

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/invariant.h"
#include "platform/linux/download/curl_resume_data.h"
#include "platform/linux/download/response_plan.h"

namespace {

using orbitreel::BodyUse;
using orbitreel::fuzz::require;

std::int64_t number(std::string_view text) {
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// Digits only, and a 64-bit size: how a header writes one.
std::optional<std::int64_t> plainSize(std::string_view text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string_view withoutBlanks(std::string_view text) {
    auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The range, when the text is exactly "bytes FIRST-LAST/TOTAL" (or "/*") with
// numbers in their shortest form: the form no reader may refuse.
struct Range {
    std::int64_t first, last, total;  // total -1: "*"
};
std::optional<Range> canonicalRange(std::string_view text) {
    if (!text.starts_with("bytes ")) return std::nullopt;
    auto dash = text.find('-'), slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return std::nullopt;
    auto first = plainSize(text.substr(6, dash - 6));
    auto last = plainSize(text.substr(dash + 1, slash - dash - 1));
    auto totalText = text.substr(slash + 1);
    auto total = totalText == "*" ? std::optional<std::int64_t>(-1) : plainSize(totalText);
    if (!first || !last || !total) return std::nullopt;
    std::string shortest = "bytes " + std::to_string(*first) + "-" + std::to_string(*last) + "/" +
                           (*total < 0 ? std::string("*") : std::to_string(*total));
    if (shortest != text) return std::nullopt;
    return Range{*first, *last, *total};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; lines.size() < 7;) {
        auto end = input.find('\n', at);
        lines.push_back(input.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at));
        if (end == std::string_view::npos) break;
        at = end + 1;
    }
    lines.resize(7);

    orbitreel::ResponseHead head;
    head.status = number(lines[0]);
    const std::int64_t rangeStart = number(lines[1]);
    head.location = lines[2];
    head.contentRange = lines[3];
    if (lines[4] != "~") head.contentLength = lines[4];
    head.etag = lines[5];
    head.lastModified = lines[6];

    const auto plan = orbitreel::planResponse(head, rangeStart);
    const auto again = orbitreel::planResponse(head, rangeStart);
    require(plan.use == again.use && plan.expectedTotal == again.expectedTotal && plan.validator == again.validator,
            "the same response gets the same plan");
    require(plan.expectedTotal >= -1, "a total is a size or unknown");

    // A length is refused exactly when it is not a size.
    std::optional<std::int64_t> length;
    if (head.contentLength) {
        if (plan.use != BodyUse::invalid) {
            length = plainSize(withoutBlanks(*head.contentLength));
            require(length.has_value(), "an accepted Content-Length is digits");
        }
        if (plainSize(*head.contentLength)) require(plan.use != BodyUse::invalid, "a plain size is accepted");
    } else {
        require(plan.use != BodyUse::invalid, "no length is no fault");
    }
    if (plan.use == BodyUse::invalid) return 0;

    const long s = head.status;
    const bool redirect = (s == 301 || s == 302 || s == 303 || s == 307 || s == 308) && !head.location.empty();
    require((plan.use == BodyUse::redirect) == redirect, "a redirect is a redirect status with a Location");
    if (redirect) return 0;

    if (plan.use == BodyUse::save || plan.use == BodyUse::startOver) {
        require(plan.expectedTotal == length.value_or(-1), "a whole body is as long as it says");
        const bool strong = !head.etag.empty() && !head.etag.starts_with("W/");
        require(plan.validator.empty() || plan.validator == (strong ? head.etag : head.lastModified),
                "the validator is the strong ETag, else the date");
        if (!plan.validator.empty()) {
            // It goes into the resume data, which must give it back.
            auto blob = orbitreel::encodeResumeData({"https://orbitreel.app/x", 1, plan.validator, "download-00.part"});
            auto state = orbitreel::decodeResumeData(blob);
            require(state && state->validator == plan.validator, "a kept validator survives the resume data");
        }
    } else {
        require(plan.validator.empty(), "only a new body gets a validator");
    }

    if (rangeStart <= 0) {
        require(plan.use == BodyUse::save, "an answer to a plain request is saved");
        require(plan.validator.empty() || s == 200, "only a whole file can be continued");
        return 0;
    }
    if (s == 200) {
        require(plan.use == BodyUse::startOver, "the whole file again starts over");
        return 0;
    }
    if (s != 206) {
        require(plan.use == BodyUse::drop, "another answer to a range is dropped");
        return 0;
    }

    require(plan.use == BodyUse::append || plan.use == BodyUse::refuse, "a 206 continues the partial or fails");
    if (plan.use == BodyUse::append) {
        const std::string from = std::to_string(rangeStart) + "-";
        require(head.contentRange.find(from) != std::string_view::npos, "the range starts at the offset asked");
        require(plan.expectedTotal > rangeStart, "the range holds at least one byte past the offset");
        if (length) require(*length >= 1 && plan.expectedTotal - rangeStart >= *length, "the length fits the range");
    }
    auto range = canonicalRange(head.contentRange);
    if (range && range->first == rangeStart && range->last >= range->first && range->last < INT64_MAX &&
        (range->total < 0 || range->total > range->last) && (!length || *length == range->last - range->first + 1)) {
        require(plan.use == BodyUse::append, "a range that continues the partial is taken");
        require(plan.expectedTotal == (range->total < 0 ? range->last + 1 : range->total), "the total is the range's");
    }
    return 0;
}
