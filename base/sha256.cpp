#include "base/sha256.h"

#include <new>

namespace orbitreel::base {

OpenSslSha256::OpenSslSha256() : context_(EVP_MD_CTX_new()) {
    if (context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) throw std::bad_alloc();
}

OpenSslSha256::~OpenSslSha256() { EVP_MD_CTX_free(context_); }

void OpenSslSha256::update(const void* data, std::size_t size) {
    if (size > 0 && EVP_DigestUpdate(context_, data, size) != 1) throw std::bad_alloc();
}

Sha256Digest OpenSslSha256::finalize() {
    Sha256Digest digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context_, digest.data(), &length) != 1 || length != digest.size()) throw std::bad_alloc();
    return digest;
}

}  // namespace orbitreel::base
