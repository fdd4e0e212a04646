#pragma once
// `codesign --sign` and `codesign --verify --deep --strict`.

#include <filesystem>
#include <string_view>

#include "standins/common/failure.h"

namespace orbitreel::standins {

// Signs the bundle's manifest with the private key, writing (or replacing)
// Contents/_CodeSignature/Signature. Fails for a bundle that could never
// verify (a link out of it, a device file).
Result<void> signBundle(const std::filesystem::path& bundle, const std::filesystem::path& privateKeyPem);

// Passes only when the bundle's signature is well formed, made by the key
// `publisherKeyPem`, and over exactly the bundle's present manifest.
Result<void> verifyBundle(const std::filesystem::path& bundle, std::string_view publisherKeyPem);

}  // namespace orbitreel::standins
