#pragma once
// Which thread runs what. The program's work runs on three kinds of thread:
// the main thread (the event loop and everything the window shows), the URL
// session's serial queue (its delegate calls) and background jobs. The
// platform marks the threads it runs work on; a method states its own with
// `assertOn` at entry. Debug builds check it, and a call on the wrong thread
// prints the method and the thread, then aborts; release builds keep nothing.

#include <source_location>

namespace orbitreel {

enum class Affinity { unmarked, main, session, background };

#ifdef NDEBUG
inline void markThisThread(Affinity) {}
inline void assertOn(Affinity, std::source_location = std::source_location::current()) {}
#else
// Marks the calling thread for the rest of its life.
void markThisThread(Affinity affinity);
void assertOn(Affinity expected, std::source_location where = std::source_location::current());
#endif

}  // namespace orbitreel
