#pragma once
// Reading folders by descriptor, never through a link. Trees the program
// walks may lie where other people can rename entries, or come from an
// image, so a link swapped in for a folder must not lead anywhere else.

#include <sys/stat.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "base/unique_fd.h"

namespace orbitreel::base {

// How a caller words a failure of these steps, which differs per caller
// (the installer in Spanish, the stand-ins in the English of their error
// lines): `code` is the errno of the step that failed, `shown` the item as
// the caller shows it, the caller's name for where it started joined with
// the names below.
using Wording = Error (*)(int code, const std::string& shown);

// "shown/name"; an empty `shown` gives the name alone.
std::string joinShown(const std::string& shown, const std::string& name);

// Opens the folder `name` of the folder open at `folder` for reading;
// fails when it is a link or no folder.
Result<UniqueFd> openFolder(int folder, const std::string& name, const std::string& shown, Wording words);
// The same for a path, reached as the kernel resolves it but for its last
// name, which is not followed. Trailing slashes count for nothing ("a/"
// names what "a" names, where the kernel would follow a link).
Result<UniqueFd> openFolderAtPath(const std::string& path, Wording words);

// The names in the folder open at `folder` (any descriptor of it, one
// opened with O_PATH too), without "." and "..", sorted bytewise so that
// every walk visits a tree in the same order.
Result<std::vector<std::string>> sortedNames(int folder, const std::string& shown, Wording words);

// The entry `name` itself, never what a link points at.
Result<struct stat> statEntry(int folder, const std::string& name, const std::string& shown, Wording words);

// What the link `name` holds; a target of PATH_MAX bytes or more fails with
// ENAMETOOLONG.
Result<std::string> readLinkAt(int folder, const std::string& name, const std::string& shown, Wording words);

}  // namespace orbitreel::base
