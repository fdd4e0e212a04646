// Feeds arbitrary bytes to manifest decoding and validation. Beyond not
// crashing, a manifest that validates must satisfy what later steps trust.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/release.h"
#include "core/url.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    orbitreel::parseUrl(text);
    auto decoded = orbitreel::decodeRelease(text);
    if (!decoded) return 0;
    auto valid = orbitreel::validatedRelease(*decoded);
    if (!valid) {
        if (!valid.error().isInstallError()) std::abort();
        return 0;
    }
    auto url = orbitreel::parseUrl(valid->url);
    if (!url || url->scheme != "https" || url->host != orbitreel::ReleaseHost) std::abort();
    if (!url->path.starts_with("/downloads/Orbitreel-Mac-")) std::abort();
    if (url->path.find("/../") != std::string::npos || valid->version.find('/') != std::string::npos) std::abort();
    if (valid->bytes <= 0 || valid->bytes >= 2000000000) std::abort();
    // The install compares the digest exactly with the lowercase one it computes.
    if (valid->sha256.size() != 64 || valid->sha256.find_first_not_of("0123456789abcdef") != std::string::npos)
        std::abort();
    return 0;
}
