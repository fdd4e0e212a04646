#pragma once
// The install transaction: from a verified image in the cache to the installed
// application, with backup, rollback and clean-up.

#include "base/error.h"
#include "core/identity.h"
#include "core/release.h"
#include "platform/applications.h"
#include "platform/files.h"

namespace orbitreel {

struct Platform;

// Whether the run first puts right what killed runs left behind. Only while
// no other installer of the person can be running: its items in progress
// have the same shapes.
enum class Leftovers { recover, leaveAlone };

// Returns the installed copy: where it lies and which folder it is.
Result<InstalledApplication> install(const Platform& platform, const Release& release, Leftovers leftovers);

}  // namespace orbitreel
