#pragma once
// Running applications and the workspace that opens them.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "platform/files.h"

namespace orbitreel {

class RunningApplications {
public:
    virtual ~RunningApplications() = default;
    // How many running processes belong to a bundle with this identifier.
    virtual std::size_t countWithBundleIdentifier(const std::string& bundleIdentifier) = 0;
};

class Workspace {
public:
    virtual ~Workspace() = default;
    using OpenHandler = std::function<void(std::optional<Error>)>;
    // Starts the application at `bundle` and returns at once; the handler runs
    // later, on any thread, with an error that is absent on success.
    virtual void openApplication(const Path& bundle, OpenHandler handler) = 0;
};

}  // namespace orbitreel
