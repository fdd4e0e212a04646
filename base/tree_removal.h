#pragma once
// Removing a tree by descriptor. Links are removed, never followed. A folder
// is entered only when it is the person's own (own_item.h); before it is
// read it is given back its owner's rights, on a descriptor of that very
// folder, and closed to writing by anyone else: a copy of a read-only image
// holds folders nobody may write or enter, and another user's folder is
// theirs to keep. The first failure stops the removal, with what was removed
// so far gone; a folder of someone else's stops it with EPERM, one deeper
// than the caller's bound (WalkRules) with ENAMETOOLONG.

#include <string>

#include "base/error.h"
#include "base/folder_walk.h"

namespace orbitreel::base {

// Removes the entry `name` of the folder open at `folder` (any descriptor
// of it) and, when it is a folder, everything in it. `shown` names the
// entry; the bound counts names below it.
Result<void> removeTree(int folder, const std::string& name, const std::string& shown, const WalkRules& rules);

// Removes everything in the folder open at `folder` but an entry named
// `except` right in it. The folder itself stays; it is the caller's, who
// made it writable.
Result<void> removeContents(int folder, const std::string& except, const std::string& shown, const WalkRules& rules);

}  // namespace orbitreel::base
