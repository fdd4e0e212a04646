#pragma once
// Paths named by an image's entries or by link targets, split into components.

#include <string>
#include <string_view>
#include <vector>

#include "standins/common/failure.h"

namespace orbitreel::standins {

using PathComponents = std::vector<std::string>;

// Splits at "/", dropping empty and "." components; ".." stays a component.
PathComponents splitPath(std::string_view path);

// An entry's name as a path below the extraction folder: refused when it is
// absolute or holds "..". The root itself gives no components.
Result<PathComponents> checkedEntryPath(std::string_view path);

std::string joinPath(const PathComponents& components, std::size_t count);
inline std::string joinPath(const PathComponents& components) { return joinPath(components, components.size()); }

}  // namespace orbitreel::standins
