#pragma once
// Text files of a test, written and read whole.

#include <string>

#include "platform/files.h"

namespace orbitreel::test_support {

// Writes a text file, creating its folder.
void writeText(const Path& file, const std::string& text);
std::string readText(const Path& file);

}  // namespace orbitreel::test_support
