#pragma once
// Running the Qt event loop from a test, and the digest text of test content.

#include <functional>
#include <span>
#include <string>

namespace orbitreel::test_support {

// Runs the event loop until `condition` holds; false if it never did within
// a generous bound (a guard against hanging, not a measurement).
bool eventually(const std::function<bool()>& condition);
// Runs the event loop for what is already posted.
void settle();

std::string sha256Hex(std::span<const unsigned char> content);
inline std::string sha256Hex(const std::string& content) {
    return sha256Hex(std::span(reinterpret_cast<const unsigned char*>(content.data()), content.size()));
}

}  // namespace orbitreel::test_support
