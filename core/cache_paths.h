#pragma once
// The per-version cache folder. Every path is rebuilt from the home folder and
// the release's version each time it is needed; none is stored.

#include <string>

#include "core/identity.h"
#include "platform/files.h"

namespace orbitreel {

inline Path versionDirectory(const Path& home, const std::string& version) { return home / CacheFolder / version; }
inline Path cachedImage(const Path& home, const std::string& version) {
    return versionDirectory(home, version) / "application.dmg";
}
inline Path resumeDataFile(const Path& home, const std::string& version) {
    return versionDirectory(home, version) / "resume.data";
}

inline Path recordsDirectory(const Path& home) { return home / RecordsFolder; }

}  // namespace orbitreel
