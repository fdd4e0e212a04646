#include "platform/linux/download/response_plan.h"

#include <charconv>

namespace orbitreel {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// Digits only, as headers write sizes ("-0" is none), within 64 bits.
std::optional<std::int64_t> parseNumber(std::string_view text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    std::int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

struct ContentRange {
    std::int64_t first = 0;
    std::int64_t end = 0;     // one past the last byte
    std::int64_t total = -1;  // unknown
};

// "bytes FIRST-LAST/TOTAL", TOTAL possibly "*", with nothing between the
// parts, as the header is written: a number padded with blanks or line breaks
// is no number here. A range that does not fit its total, or whose end is not
// a 64-bit size, is no range.
std::optional<ContentRange> parseContentRange(std::string_view text) {
    text = trim(text);
    if (!text.starts_with("bytes ")) return std::nullopt;
    text.remove_prefix(6);
    auto dash = text.find('-');
    auto slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || dash > slash) return std::nullopt;
    auto first = parseNumber(text.substr(0, dash));
    auto last = parseNumber(text.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *last < *first || *last == INT64_MAX) return std::nullopt;
    ContentRange range{*first, *last + 1, -1};
    auto total = text.substr(slash + 1);
    if (total != "*") {
        auto value = parseNumber(total);
        if (!value || *value < range.end) return std::nullopt;
        range.total = *value;
    }
    return range;
}

bool isRedirectStatus(long code) { return code == 301 || code == 302 || code == 303 || code == 307 || code == 308; }

// Only a strong ETag or a date can vouch for a byte range later, and only one
// that goes into the resume data's JSON and the next request's header as it
// is: printable ASCII. A server may send any byte there.
std::string validatorOf(const ResponseHead& head) {
    std::string_view chosen = !head.etag.empty() && !head.etag.starts_with("W/") ? head.etag : head.lastModified;
    for (unsigned char c : chosen)
        if (c < 0x20 || c > 0x7e) return {};
    return std::string(chosen);
}

}  // namespace

ResponsePlan planResponse(const ResponseHead& head, std::int64_t rangeStart) {
    std::int64_t length = -1;
    if (head.contentLength) {
        auto parsed = parseNumber(trim(*head.contentLength));
        if (!parsed) return ResponsePlan{BodyUse::invalid, -1, {}};
        length = *parsed;
    }

    if (isRedirectStatus(head.status) && !head.location.empty()) return ResponsePlan{BodyUse::redirect, -1, {}};

    if (rangeStart <= 0) {
        // A later range request can only continue a whole file.
        return ResponsePlan{BodyUse::save, length, head.status == 200 ? validatorOf(head) : std::string()};
    }
    if (head.status == 206) {
        // The partial is continued only by the bytes that follow it, and a
        // length that disagrees with the range leaves it in doubt.
        auto range = parseContentRange(head.contentRange);
        if (!range || range->first != rangeStart || (length >= 0 && length != range->end - range->first))
            return ResponsePlan{BodyUse::refuse, -1, {}};
        return ResponsePlan{BodyUse::append, range->total >= 0 ? range->total : range->end, {}};
    }
    // The server sends the whole file again.
    if (head.status == 200) return ResponsePlan{BodyUse::startOver, length, validatorOf(head)};
    // Any other answer is final and says nothing about the bytes on disk.
    return ResponsePlan{BodyUse::drop, -1, {}};
}

}  // namespace orbitreel
