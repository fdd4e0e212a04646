#pragma once
// A workspace that records what it is asked to open and opens nothing. It
// answers with `failure` when set, else with success, on a thread of its
// own, as the system's would.

#include <optional>
#include <thread>
#include <vector>

#include "platform/applications.h"

namespace orbitreel::test_support {

class RecordingWorkspace : public Workspace {
public:
    ~RecordingWorkspace() override;
    std::vector<Path> opened;
    std::optional<Error> failure;
    void openApplication(const InstalledApplication& application, OpenHandler handler) override;

private:
    std::vector<std::thread> answers_;
};

}  // namespace orbitreel::test_support
