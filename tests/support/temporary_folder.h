#pragma once
// A temporary folder that disappears with the test.

#include "platform/files.h"

namespace orbitreel::test_support {

class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const Path& path() const { return path_; }

private:
    Path path_;
};

}  // namespace orbitreel::test_support
