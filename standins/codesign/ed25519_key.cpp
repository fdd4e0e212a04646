#include "standins/codesign/ed25519_key.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdio>

#include "base/hex.h"
#include "base/sha256.h"

namespace orbitreel::standins {

namespace {

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string openSslMessage(const std::string& what) {
    char text[256] = "unknown error";
    unsigned long code = ERR_get_error();
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return what + ": " + text;
}

Result<Key> requireEd25519(Key key, const std::string& what) {
    if (!key) return failure(openSslMessage(what));
    if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) return failure(what + ": not an Ed25519 key");
    return key;
}

}  // namespace

Result<Key> loadPrivateKey(const std::filesystem::path& pemFile) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new_file(pemFile.c_str(), "r"));
    if (!bio) return failure(openSslMessage("cannot open the key " + pemFile.string()));
    return requireEd25519(Key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)),
                          "cannot read the private key " + pemFile.string());
}

Result<Key> parsePublicKey(std::string_view pem) {
    std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio) return failure("out of memory");
    return requireEd25519(Key(PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr)), "cannot read the public key");
}

Result<std::string> keyId(EVP_PKEY* key) {
    unsigned char raw[64];
    std::size_t length = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(key, raw, &length) != 1) return failure(openSslMessage("cannot read the key"));
    base::OpenSslSha256 hash;
    hash.update(raw, length);
    return base::toHex(hash.finalize());
}

Result<Ed25519Signature> signMessage(EVP_PKEY* privateKey, std::span<const unsigned char> message) {
    std::unique_ptr<EVP_MD_CTX, ContextDeleter> context(EVP_MD_CTX_new());
    Ed25519Signature signature{};
    std::size_t length = signature.size();
    // Ed25519 hashes internally: no digest is named.
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, privateKey) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &length, message.data(), message.size()) != 1 ||
        length != signature.size())
        return failure(openSslMessage("cannot sign"));
    return signature;
}

bool verifyMessage(EVP_PKEY* publicKey, std::span<const unsigned char> message, const Ed25519Signature& signature) {
    std::unique_ptr<EVP_MD_CTX, ContextDeleter> context(EVP_MD_CTX_new());
    bool valid =
        context && EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey) == 1 &&
        EVP_DigestVerify(context.get(), signature.data(), signature.size(), message.data(), message.size()) == 1;
    ERR_clear_error();
    return valid;
}

}  // namespace orbitreel::standins
