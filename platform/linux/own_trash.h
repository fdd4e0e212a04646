#pragma once
// The person's Trash, reached by descriptor: the home Trash for items on the
// home's file system, else a Trash of the person's own at the top of the
// item's file system. What others made there, or a link in its place, is
// never used.

#include <string>

#include "base/error.h"
#include "platform/files.h"

namespace orbitreel {

// Moves the entry `name` of the folder open at `folder` into the Trash as
// `trashedName`, with `shownAt` as the place it is restored to. The Trash's
// record of it is written first, as the Trash's readers expect; one that a
// killed run left without its item is removed before the new one is
// written, so a retry with the same name leaves no such record behind.
Result<void> trashEntry(int folder, const std::string& name, const std::string& trashedName, const Path& shownAt);

}  // namespace orbitreel
