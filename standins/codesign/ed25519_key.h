#pragma once
// Ed25519 keys in PEM form, signing and checking (OpenSSL EVP).

#include <openssl/evp.h>

#include <array>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "standins/common/failure.h"

namespace orbitreel::standins {

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Ed25519Signature = std::array<unsigned char, 64>;

Result<Key> loadPrivateKey(const std::filesystem::path& pemFile);
Result<Key> parsePublicKey(std::string_view pem);

// Names a key in a signature: the SHA-256 of its raw public key, in hex.
Result<std::string> keyId(EVP_PKEY* key);

Result<Ed25519Signature> signMessage(EVP_PKEY* privateKey, std::span<const unsigned char> message);
bool verifyMessage(EVP_PKEY* publicKey, std::span<const unsigned char> message, const Ed25519Signature& signature);

}  // namespace orbitreel::standins
