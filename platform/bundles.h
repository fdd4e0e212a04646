#pragma once
// Application bundles: the installer's own bundle and its resources, and the
// identity of a bundle at a location (from its Info.plist).

#include <map>
#include <optional>
#include <string>

#include "platform/files.h"

namespace orbitreel {

struct BundleInfo {
    std::optional<std::string> identifier;       // CFBundleIdentifier
    std::map<std::string, std::string> strings;  // the top-level string values

    // A string entry of the Info.plist; absent when missing or not a string.
    std::optional<std::string> string(const std::string& key) const {
        auto it = strings.find(key);
        if (it == strings.end()) return std::nullopt;
        return it->second;
    }
};

// A bundle folder and what its Info.plist said, read through that very folder.
struct BundleFolder {
    ItemIdentity identity;
    BundleInfo info;
};

class Bundles {
public:
    virtual ~Bundles() = default;
    // The bundle that holds the running executable.
    virtual Path mainBundlePath() = 0;
    // A resource of the main bundle (Contents/Resources/name.ext), absent
    // when there is no such file.
    virtual std::optional<Path> mainBundleResource(const std::string& name, const std::string& extension) = 0;
    // The bundle at a location; absent when the folder holds no bundle.
    virtual std::optional<BundleInfo> bundleAt(const Path& location) = 0;
    // The bundle that is the folder at `location` itself, not a link to one,
    // its Info.plist read through that folder; absent when it is anything
    // else or holds no bundle.
    virtual std::optional<BundleFolder> bundleFolderAt(const Path& location) = 0;
};

}  // namespace orbitreel
