#pragma once
// Who the installer is and what it installs: every name of the product's
// identity, in one table beside the texts. Files outside C++ keep their own
// spellings: resources/Info.plist.in, the release and demo scripts.

#include <string_view>

namespace orbitreel {

// The pinned download host.
inline constexpr const char* ReleaseHost = "orbitreel.app";
// The installed application's bundle identifier, by which a running copy is
// found too.
inline constexpr const char* TargetBundleId = "app.orbitreel.Orbitreel";
// The installed application's folder, in an Applications folder or an image.
inline constexpr std::string_view ApplicationFolderName = "Orbitreel.app";
// The installer's own name: the application's, the HTTP client's.
inline constexpr std::string_view InstallerName = "OrbitreelInstaller";

// Below the home folder.
inline constexpr std::string_view CacheFolder = "Library/Caches/OrbitreelInstaller";
inline constexpr std::string_view SessionFolder = "Library/Caches/OrbitreelInstaller-Session";
// What each install made, written down for the next run's recovery.
inline constexpr std::string_view RecordsFolder = "Library/Caches/OrbitreelInstaller-Records";
inline constexpr std::string_view InstanceFolder = "Library/Caches/OrbitreelInstaller-Instance";
inline constexpr std::string_view LogFolder = "Library/Logs";
inline constexpr std::string_view LogFileName = "OrbitreelInstaller.log";

}  // namespace orbitreel
