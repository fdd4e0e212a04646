#pragma once
// A bundle's Info.plist on Linux: an XML property list whose top-level
// dictionary gives the bundle's identity. The installer reads the one inside
// a downloaded image before the image's signature is checked, so the reader
// trusts nothing in it.

#include <optional>
#include <string_view>

#include "platform/bundles.h"

namespace orbitreel {

// The top-level dictionary's string values; absent when `document` is not a
// well-formed property list.
std::optional<BundleInfo> parseInfoPlist(std::string_view document);

// The same for a file; absent when it is missing, not a plain file, or far
// larger than any Info.plist.
std::optional<BundleInfo> readInfoPlist(const Path& plist);

// The Info.plist of the bundle folder open at `bundle`, reached through it
// without following any link.
std::optional<BundleInfo> readInfoPlistOf(int bundle);

}  // namespace orbitreel
