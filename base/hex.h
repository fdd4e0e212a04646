#pragma once
// Bytes as lowercase hexadecimal text, two characters a byte.

#include <span>
#include <string>

namespace orbitreel::base {

std::string toHex(std::span<const unsigned char> bytes);

}  // namespace orbitreel::base
