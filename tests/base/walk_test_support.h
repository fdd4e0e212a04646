#pragma once
// What the walk's tests share: a plain wording that keeps the errno and the
// shown path, and a count of the descriptors the process holds.

#include <string>

#include "base/error.h"
#include "base/folder_walk.h"

namespace orbitreel::base::test {

// PlatformError{"posix", code, shown}.
Error plainWords(int code, const std::string& shown);

inline WalkRules rulesTo(std::size_t maxDepth) { return WalkRules{maxDepth, plainWords}; }

// The failure's errno and shown path, as plainWords made them.
int codeOf(const Error& error);
std::string shownOf(const Error& error);

int openDescriptors();

}  // namespace orbitreel::base::test
