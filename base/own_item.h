#pragma once
// What counts as the person's own. Folders the installer acts in may be
// shared with other people; it changes, enters or removes only items that
// the user running it owns, as the item's own status reports them (taken
// through a descriptor, never through a link).

#include <sys/stat.h>
#include <unistd.h>

namespace orbitreel::base {

// The item belongs to the user running the program.
inline bool isPersonsOwn(const struct stat& item) { return item.st_uid == ::geteuid(); }

// The person's own, and nobody else may read, write or enter it.
inline bool isPersonsPrivate(const struct stat& item) { return isPersonsOwn(item) && (item.st_mode & 077) == 0; }

// A folder itself (not a link to one) of the person's own.
inline bool isPersonsOwnFolder(const struct stat& item) { return S_ISDIR(item.st_mode) && isPersonsOwn(item); }

}  // namespace orbitreel::base
