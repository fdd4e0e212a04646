#pragma once
// The release manifest that travels inside the installer's bundle.

#include <cstdint>
#include <string>

#include "base/error.h"
#include "core/identity.h"

namespace orbitreel {

struct Platform;

// A validated manifest record; only `checkedRelease` makes one.
struct Release {
    std::string version;
    std::string url;
    std::string sha256;
    std::int64_t bytes = 0;

    friend bool operator==(const Release&, const Release&) = default;
};

// Decodes a manifest: one JSON object with "version", "url", "sha256" and
// "bytes", decoded in that order. A decoding failure is a platform error.
Result<Release> decodeRelease(const std::string& json);

// Whether `url` may serve the release of `version`: HTTPS on the release host,
// under the release path, for that version.
bool isReleaseUrl(const std::string& url, const std::string& version);

// Validates a decoded manifest against the pinned scheme, host and path.
Result<Release> validatedRelease(Release release);

// Loads "release.json" from the main bundle's resources and validates it.
Result<Release> checkedRelease(const Platform& platform);

}  // namespace orbitreel
