#pragma once
// Which item a path names, as the install reports it for its copy.

#include "platform/files.h"

namespace orbitreel::test_support {

// The entry itself, never what a link points at; empty when there is none.
ItemIdentity identityOfPath(const Path& path);

}  // namespace orbitreel::test_support
