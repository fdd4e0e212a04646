#pragma once
// The SHA-256 of test content as lowercase hex, as a manifest gives it.

#include <span>
#include <string>

namespace orbitreel::test_support {

std::string sha256Hex(std::span<const unsigned char> content);
inline std::string sha256Hex(const std::string& content) {
    return sha256Hex(std::span(reinterpret_cast<const unsigned char*>(content.data()), content.size()));
}

}  // namespace orbitreel::test_support
