#pragma once
// The real clock and UUIDs, with the home and temporary folders of a test.

#include <memory>
#include <string>

#include "platform/environment.h"

namespace orbitreel::test_support {

class HomeEnvironment : public Environment {
public:
    HomeEnvironment(Path home, Path temporary);
    Path homeDirectory() override { return home_; }
    Path temporaryDirectory() override { return temporary_; }
    std::string newUuid() override { return real_->newUuid(); }
    std::string nowIso8601() override { return real_->nowIso8601(); }

private:
    Path home_;
    Path temporary_;
    std::unique_ptr<Environment> real_;
};

}  // namespace orbitreel::test_support
