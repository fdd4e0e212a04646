#include "platform/linux/openssl_hashing.h"

#include "base/sha256.h"

namespace orbitreel {

namespace {

class OpenSslSha256 : public Sha256 {
public:
    void update(std::span<const std::uint8_t> bytes) override { sha_.update(bytes.data(), bytes.size()); }
    std::array<std::uint8_t, 32> finalize() override { return sha_.finalize(); }

private:
    base::OpenSslSha256 sha_;
};

class OpenSslHashing : public Hashing {
public:
    std::unique_ptr<Sha256> makeSha256() override { return std::make_unique<OpenSslSha256>(); }
};

}  // namespace

std::unique_ptr<Hashing> makeOpenSslHashing() { return std::make_unique<OpenSslHashing>(); }

}  // namespace orbitreel
