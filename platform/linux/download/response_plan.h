#pragma once
// What a transfer does with a response, decided from its status and headers
// and from what the request asked for. Nothing here touches the network or
// the disk, so the rules can be read, tested and fuzzed on their own.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orbitreel {

// The final response's status and header values (the last one where a header
// repeats); empty text where a header is absent, but for Content-Length,
// whose presence alone matters.
struct ResponseHead {
    long status = 0;
    std::string_view location;
    std::string_view contentRange;
    std::optional<std::string_view> contentLength;
    std::string_view etag;
    std::string_view lastModified;
};

enum class BodyUse {
    redirect,   // the delegate decides about Location; the body is dropped
    drop,       // final, and says nothing about the bytes on disk: they stay
    save,       // a fresh body, from the file's first byte
    startOver,  // the whole file again for a range request: empty the partial first
    append,     // the bytes that follow the partial, from the offset asked for
    refuse,     // a range answer that does not continue the partial: fail, and drop it
    invalid,    // a header that is not a size: fail, and keep the partial
};

struct ResponsePlan {
    BodyUse use = BodyUse::invalid;
    // The size the file will have; -1 when unknown.
    std::int64_t expectedTotal = -1;
    // For save and startOver: what can vouch for these bytes in a later range
    // request; empty when nothing can.
    std::string validator;
};

// `rangeStart` is the offset a range request asked from, 0 for none.
ResponsePlan planResponse(const ResponseHead& head, std::int64_t rangeStart);

}  // namespace orbitreel
