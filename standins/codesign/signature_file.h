#pragma once
// The signature file inside a bundle (Contents/_CodeSignature/Signature):
//
//   orbitreel-signature 1
//   key <SHA-256 of the signer's public key, 64 hex>
//   ed25519 <signature, 128 hex>
//
// It signs "orbitreel-codesign 1\n" followed by the 32 bytes of the bundle
// manifest's SHA-256.

#include <string>
#include <string_view>
#include <vector>

#include "base/sha256.h"
#include "standins/codesign/ed25519_key.h"
#include "standins/common/failure.h"

namespace orbitreel::standins {

inline constexpr std::size_t MaxSignatureFileBytes = 4096;

struct BundleSignature {
    std::string keyId;
    Ed25519Signature signature{};
};

std::string formatSignatureFile(const BundleSignature& signature);
// Strict: exactly the three lines above.
Result<BundleSignature> parseSignatureFile(std::string_view text);

// What the signature signs for a manifest digest.
std::vector<unsigned char> signedMessage(const base::Sha256Digest& manifestDigest);

}  // namespace orbitreel::standins
