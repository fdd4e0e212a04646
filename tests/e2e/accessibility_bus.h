#pragma once
// A session bus with an accessibility bus launched on it, and a screen
// reader's announcement that it listens (org.a11y.Status IsEnabled): what
// the installer needs to show its tree to our reader (atspi_reader.cpp).

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "stage/child_process.h"

namespace orbitreel::e2e {

class AccessibilityBus {
public:
    // The buses run as `user` (ours otherwise): only that user's programs may
    // use them. `home`, when given, is theirs: a user the system does not
    // know needs one named.
    explicit AccessibilityBus(const std::filesystem::path& work, std::optional<stage::UserIdentity> user = {},
                              const std::filesystem::path& home = {});

    // Why there is no bus; empty when there is one.
    const std::string& missing() const { return missing_; }
    std::vector<std::string> environment() const;
    const std::string& variable() const { return variable_; }

private:
    std::string missing_;
    std::string variable_;
    std::filesystem::path home_;
    stage::ChildProcess bus_;
    stage::ChildProcess launcher_;
};

}  // namespace orbitreel::e2e
