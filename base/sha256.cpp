#include "base/sha256.h"

#include <new>

namespace orbitreel::helpers {

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::update(const void* data, std::size_t size) {
    if (size > 0 && EVP_DigestUpdate(context_, data, size) != 1) throw std::bad_alloc();
}

Sha256Digest Sha256::finish() {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_, digest.data(), &length) != 1 || length != digest.size()) throw std::bad_alloc();
    return digest;
}

std::string toHex(std::span<const unsigned char> bytes) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        text.push_back(Digits[byte >> 4]);
        text.push_back(Digits[byte & 0x0f]);
    }
    return text;
}

}  // namespace orbitreel::helpers
