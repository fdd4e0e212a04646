#include "base/hex.h"

namespace orbitreel::base {

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

}  // namespace orbitreel::base
