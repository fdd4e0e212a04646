#pragma once
// The Linux implementation of every platform service.

#include <memory>

#include "platform/platform.h"

namespace orbitreel {

class LinuxPlatform {
public:
    LinuxPlatform();
    ~LinuxPlatform();
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    // The services; `locations` points at the bundle's Contents/Helpers
    // stand-ins and "/Applications".
    const Platform& platform() const { return platform_; }

private:
    struct Services;
    std::unique_ptr<Services> services_;
    Platform platform_;
};

}  // namespace orbitreel
