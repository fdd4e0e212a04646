#pragma once
// The user's folders, fresh identifiers and the clock.

#include <string>

#include "platform/files.h"

namespace orbitreel {

class Environment {
public:
    virtual ~Environment() = default;
    virtual Path homeDirectory() = 0;
    virtual Path temporaryDirectory() = 0;
    // A fresh random UUID: 36 characters, uppercase hexadecimal in groups of
    // 8-4-4-4-12 separated by hyphens.
    virtual std::string newUuid() = 0;
    // The current time as YYYY-MM-DDTHH:MM:SSZ (UTC).
    virtual std::string nowIso8601() = 0;
};

}  // namespace orbitreel
