// Resume data comes back from a file in the user's cache, which anything that
// runs as the user may have written. Whatever the decoder accepts is acted on:
// the partial file it names is opened and continued, and the URL and the
// validator go into a request.

#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/invariant.h"
#include "platform/linux/download/curl_resume_data.h"

namespace {

using orbitreel::fuzz::require;

bool hasControlCharacter(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// Everything a decoded state promises.
void checkAccepted(const std::optional<orbitreel::ResumeState>& state) {
    if (!state) return;
    // A plain name inside the session's folder, never a way out of it.
    const std::string& name = state->partialName;
    require(orbitreel::isPartialName(name), "the partial is one of the session's names");
    require(name.find('/') == std::string::npos && name != "." && name != "..", "the partial is a plain name");
    require(state->bytes > 0, "there are bytes to continue");
    require(!state->url.empty() && !hasControlCharacter(state->url), "the URL fits a request");
    require(!state->validator.empty() && !hasControlCharacter(state->validator), "the validator fits a header");

    // What was accepted survives being written and read again unchanged.
    auto again = orbitreel::decodeResumeData(orbitreel::encodeResumeData(*state));
    require(again && *again == *state, "encoding what was decoded gives it back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkAccepted(orbitreel::decodeResumeData(orbitreel::Bytes(data, data + size)));

    // The session encodes whatever URL and validator it was given, in any
    // bytes: that must never throw, and reads back as no more than a blob.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const orbitreel::ResumeState made{text.substr(0, size / 2), static_cast<std::int64_t>(size), text.substr(size / 2),
                                      "download-0123456789abcdef0123456789abcdef.part"};
    checkAccepted(orbitreel::decodeResumeData(orbitreel::encodeResumeData(made)));
    return 0;
}
