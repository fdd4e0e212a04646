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

// An installed copy as the install left it: where it lies, and which folder
// it is, so that a folder put at that name since is never taken for it.
struct InstalledApplication {
    Path location;
    ItemIdentity identity;
};

class Workspace {
public:
    virtual ~Workspace() = default;
    using OpenHandler = std::function<void(std::optional<Error>)>;
    // Starts the installed application and returns at once; the handler runs
    // later, on any thread, with an error that is absent on success. Only
    // the very folder the install checked is started: when its location
    // holds another one, nothing starts and the handler gets an error.
    virtual void openApplication(const InstalledApplication& application, OpenHandler handler) = 0;
};

}  // namespace orbitreel
