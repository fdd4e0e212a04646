#pragma once
// Private folders on Linux: made with mkdirat, held by a descriptor, and
// every operation on their entries made relative to it.

#include <memory>

#include "base/error.h"
#include "platform/files.h"

namespace orbitreel {

Result<std::unique_ptr<PrivateFolder>> makePrivateFolderAt(const Path& path);
Result<std::unique_ptr<PrivateFolder>> findPrivateFolderIn(const Path& parent, const ItemIdentity& identity);

}  // namespace orbitreel
