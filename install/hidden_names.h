#pragma once
// The names the install gives its temporary items: the staging copy and the
// backup beside the target, the mount point in the version directory. A
// later run finds what a killed one left by these exact shapes.

#include <string>
#include <string_view>

namespace orbitreel {

inline constexpr std::string_view StagingPrefix = ".Orbitreel-install-";
inline constexpr std::string_view BackupPrefix = ".Orbitreel-backup-";
inline constexpr std::string_view BundleSuffix = ".app";
inline constexpr std::string_view MountPrefix = "mount-";

std::string hiddenName(std::string_view prefix, const std::string& uuid, std::string_view suffix = {});

// Whether `name` is exactly prefix + a UUID text as Environment::newUuid
// writes it (uppercase hexadecimal, 8-4-4-4-12) + suffix.
bool isHiddenName(std::string_view name, std::string_view prefix, std::string_view suffix = {});

}  // namespace orbitreel
