#pragma once
// How the stand-ins walk and remove trees (base/folder_walk.h,
// base/tree_removal.h): no deeper than an image carries (tree_depth.h),
// failures worded as the lines the tools print.

#include <string>

#include "base/error.h"
#include "base/folder_walk.h"
#include "standins/common/tree_depth.h"

namespace orbitreel::standins {

// "cannot read PATH: strerror"; past the bound "tree nested deeper than 13
// names: PATH".
Error readingWords(int code, const std::string& shown);
// "cannot remove PATH: strerror"; past the bound as above.
Error removalWords(int code, const std::string& shown);
// "cannot open folder PATH: strerror", for a folder the command line names.
Error openingWords(int code, const std::string& shown);

inline constexpr base::WalkRules ReadingTree{MaxTreeDepth, readingWords};
inline constexpr base::WalkRules RemovingTree{MaxTreeDepth, removalWords};

}  // namespace orbitreel::standins
