#pragma once
// Which item a descriptor or an entry is: device, inode and birth time.

#include <string>

#include "base/error.h"
#include "platform/files.h"

namespace orbitreel {

// The item `fd` is open on.
Result<ItemIdentity> identityOf(int fd, const Path& shown);
// The entry `name` in the folder `folder`, itself, never what a link points at.
Result<ItemIdentity> identityAt(int folder, const std::string& name, const Path& shown);

}  // namespace orbitreel
