#include "tests/support/sha256_hex.h"

#include "platform/linux/openssl_hashing.h"

namespace orbitreel::test_support {

std::string sha256Hex(std::span<const unsigned char> content) {
    auto sha = makeOpenSslHashing()->makeSha256();
    sha->update(content);
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (auto byte : sha->finalize()) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 0xF]);
    }
    return hex;
}

}  // namespace orbitreel::test_support
