#include "standins/codesign/signature_file.h"

#include <cstring>

#include "base/hex.h"

namespace orbitreel::standins {

namespace {

constexpr std::string_view Header = "orbitreel-signature 1\n";
constexpr std::string_view MessagePrefix = "orbitreel-codesign 1\n";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool takeLine(std::string_view& text, std::string_view label, std::size_t hexLength, std::string_view& value) {
    if (!text.starts_with(label) || text.size() < label.size() + hexLength + 1) return false;
    value = text.substr(label.size(), hexLength);
    if (text[label.size() + hexLength] != '\n') return false;
    for (char c : value)
        if (hexValue(c) < 0) return false;
    text.remove_prefix(label.size() + hexLength + 1);
    return true;
}

}  // namespace

std::string formatSignatureFile(const BundleSignature& signature) {
    return std::string(Header) + "key " + signature.keyId + "\ned25519 " + base::toHex(signature.signature) + "\n";
}

Result<BundleSignature> parseSignatureFile(std::string_view text) {
    if (!text.starts_with(Header)) return failure("signature malformed: unknown format");
    text.remove_prefix(Header.size());
    std::string_view key, signature;
    if (!takeLine(text, "key ", 64, key)) return failure("signature malformed: no key line");
    if (!takeLine(text, "ed25519 ", 128, signature)) return failure("signature malformed: no signature line");
    if (!text.empty()) return failure("signature malformed: trailing data");
    BundleSignature parsed;
    parsed.keyId = std::string(key);
    for (std::size_t i = 0; i < parsed.signature.size(); ++i)
        parsed.signature[i] =
            static_cast<unsigned char>(hexValue(signature[2 * i]) * 16 + hexValue(signature[2 * i + 1]));
    return parsed;
}

std::vector<unsigned char> signedMessage(const base::Sha256Digest& manifestDigest) {
    std::vector<unsigned char> message(MessagePrefix.size() + manifestDigest.size());
    std::memcpy(message.data(), MessagePrefix.data(), MessagePrefix.size());
    std::memcpy(message.data() + MessagePrefix.size(), manifestDigest.data(), manifestDigest.size());
    return message;
}

}  // namespace orbitreel::standins
