#pragma once
// Bundles whose main bundle is a folder of the test; every other bundle is
// read for real.

#include <memory>

#include "platform/bundles.h"

namespace orbitreel::test_support {

class BundleInFolder : public Bundles {
public:
    explicit BundleInFolder(Path bundle);
    Path mainBundlePath() override { return bundle_; }
    std::optional<Path> mainBundleResource(const std::string& name, const std::string& extension) override;
    std::optional<BundleInfo> bundleAt(const Path& location) override { return real_->bundleAt(location); }
    std::optional<BundleFolder> bundleFolderAt(const Path& location) override {
        return real_->bundleFolderAt(location);
    }

private:
    Path bundle_;
    std::unique_ptr<Bundles> real_;
};

}  // namespace orbitreel::test_support
