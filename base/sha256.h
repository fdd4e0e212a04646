#pragma once
// Incremental SHA-256 on OpenSSL EVP, for the Linux hashing service and the
// stand-ins (the seam has its own interface, platform/hashing.h).

#include <openssl/evp.h>

#include <array>
#include <cstddef>
#include <string>

namespace orbitreel::base {

using Sha256Digest = std::array<unsigned char, 32>;

class OpenSslSha256 {
public:
    OpenSslSha256();
    ~OpenSslSha256();
    OpenSslSha256(const OpenSslSha256&) = delete;
    OpenSslSha256& operator=(const OpenSslSha256&) = delete;

    void update(const void* data, std::size_t size);
    void update(const std::string& text) { update(text.data(), text.size()); }
    Sha256Digest finalize();

private:
    EVP_MD_CTX* context_;
};

}  // namespace orbitreel::base
