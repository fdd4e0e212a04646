#pragma once
// Running applications as the test sets them: `running` copies of whatever
// is asked for. Copies of Orbitreel that other tests start at the same time
// then cannot turn a run into a refusal.

#include <cstddef>
#include <string>

#include "platform/applications.h"

namespace orbitreel::test_support {

class CountedApplications : public RunningApplications {
public:
    std::size_t running = 0;
    std::size_t countWithBundleIdentifier(const std::string&) override { return running; }
};

}  // namespace orbitreel::test_support
