#pragma once
// Walking folders through descriptors, never following a link: the stand-ins
// handle untrusted trees, where a link swapped in for a folder must not lead
// the walk elsewhere.

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/unique_fd.h"
#include "standins/common/failure.h"

namespace orbitreel::standins {

// Opens the folder `name` in `dirFd` (AT_FDCWD for a path); fails when it is
// a link or not a folder. A path's trailing slashes count for nothing.
Result<base::UniqueFd> openFolder(int dirFd, const std::string& name);
Result<base::UniqueFd> openFolder(const std::filesystem::path& path);

// The names in a folder, without "." and "..", sorted bytewise so that every
// walk visits a tree in the same order.
Result<std::vector<std::string>> sortedNames(int dirFd);

// The item itself, not what a link points at.
Result<struct stat> statEntry(int dirFd, const std::string& name);

Result<std::string> readLinkAt(int dirFd, const std::string& name);

// "a/b" + "c" → "a/b/c"; an empty prefix gives the name alone.
std::string joinRelative(const std::string& prefix, const std::string& name);

}  // namespace orbitreel::standins
