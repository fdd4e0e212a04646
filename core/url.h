#pragma once
// A strict parser for absolute URLs of the form scheme://authority/path?query#fragment.
// It keeps the scheme and host exactly as written (no case folding) so callers
// can pin them with an exact comparison, and percent-decodes the path.

#include <optional>
#include <string>
#include <string_view>

namespace orbitreel {

struct Url {
    std::optional<std::string> scheme;  // as written
    std::optional<std::string> host;    // as written; absent without an authority
    std::string path;                   // percent-decoded
};

// Absent when the text is not a well-formed URL reference: a character that a
// URL may not hold, a broken percent escape, or a malformed authority.
std::optional<Url> parseUrl(std::string_view text);

// HTTPS on the release host itself, scheme and host compared exactly as
// written. The path is not looked at: a redirect may lead anywhere on the
// host, and the manifest's URL has a path rule of its own.
bool isHttpsOnReleaseHost(const Url& url);

}  // namespace orbitreel
