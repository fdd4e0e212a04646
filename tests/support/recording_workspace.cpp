#include "tests/support/recording_workspace.h"

namespace orbitreel::test_support {

RecordingWorkspace::~RecordingWorkspace() {
    for (auto& answer : answers_) answer.join();
}

void RecordingWorkspace::openApplication(const InstalledApplication& application, OpenHandler handler) {
    opened.push_back(application.location);
    answers_.emplace_back([handler = std::move(handler), error = failure] { handler(error); });
}

}  // namespace orbitreel::test_support
