#include "platform/linux/openssl_hashing.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace orbitreel {

namespace {

class OpenSslSha256 : public Sha256 {
public:
    OpenSslSha256() : context_(EVP_MD_CTX_new()) {
        if (!context_ || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1)
            throw std::runtime_error("SHA-256 unavailable");
    }
    ~OpenSslSha256() override { EVP_MD_CTX_free(context_); }
    OpenSslSha256(const OpenSslSha256&) = delete;
    OpenSslSha256& operator=(const OpenSslSha256&) = delete;

    void update(std::span<const std::uint8_t> bytes) override {
        EVP_DigestUpdate(context_, bytes.data(), bytes.size());
    }
    std::array<std::uint8_t, 32> finalize() override {
        std::array<std::uint8_t, 32> out{};
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_, out.data(), &length);
        return out;
    }

private:
    EVP_MD_CTX* context_;
};

class OpenSslHashing : public Hashing {
public:
    std::unique_ptr<Sha256> makeSha256() override { return std::make_unique<OpenSslSha256>(); }
};

}  // namespace

std::unique_ptr<Hashing> makeOpenSslHashing() { return std::make_unique<OpenSslHashing>(); }

}  // namespace orbitreel
