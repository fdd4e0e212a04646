#pragma once
// What a killed install leaves behind, put right at the start of the next
// one: the items each recorded run made, and attached images. Nothing that
// no record names is touched.

#include "platform/files.h"

namespace orbitreel {

struct Platform;

// Best-effort: every failure is dropped, and nothing here decides whether
// the install that follows works.
void recoverLeftovers(const Platform& platform, const Path& home, const Path& versionDirectory);

}  // namespace orbitreel
