#pragma once
// Incremental SHA-256 (OpenSSL EVP).

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <string>

namespace orbitreel::base {

using Sha256Digest = std::array<unsigned char, 32>;

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const void* data, std::size_t size);
    void update(const std::string& text) { update(text.data(), text.size()); }
    Sha256Digest finish();

private:
    EVP_MD_CTX* context_;
};

}  // namespace orbitreel::base
