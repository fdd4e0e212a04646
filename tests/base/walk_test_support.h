#pragma once
// What the walk's tests share: a plain wording that keeps the errno and the
// shown path, a folder opened for reading, and a count of the descriptors
// the process holds.

#include <fcntl.h>

#include <filesystem>
#include <string>

#include "base/error.h"
#include "base/folder_walk.h"
#include "base/unique_fd.h"

namespace orbitreel::base::test {

// PlatformError{"posix", code, shown}.
Error plainWords(int code, const std::string& shown);

inline WalkRules rulesTo(std::size_t maxDepth) { return WalkRules{maxDepth, plainWords}; }

// The failure's errno and shown path, as plainWords made them.
int codeOf(const Error& error);
std::string shownOf(const Error& error);

int openDescriptors();

inline UniqueFd openedFolder(const std::filesystem::path& folder) {
    return UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace orbitreel::base::test
