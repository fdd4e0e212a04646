#pragma once
// Dispatch on Linux: the main queue is Qt's event loop on the main thread,
// delayed work is a single-shot timer there, and the user-initiated queue is
// a thread pool of our own.

#include <memory>

#include "platform/queues.h"

namespace orbitreel {

// Must be created on the thread that runs the event loop.
std::unique_ptr<Queues> makeQtQueues();

}  // namespace orbitreel
