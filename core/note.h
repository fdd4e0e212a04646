#pragma once
// The installer log: home + "Library/Logs/OrbitreelInstaller.log".

#include <string>

namespace orbitreel {

struct Platform;

// Appends one line; every failure is swallowed and nothing is printed.
void note(const Platform& platform, const std::string& text);

}  // namespace orbitreel
