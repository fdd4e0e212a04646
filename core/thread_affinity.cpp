#include "core/thread_affinity.h"

#ifndef NDEBUG

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <thread>

namespace orbitreel {

namespace {

thread_local Affinity current = Affinity::unmarked;

const char* describe(Affinity affinity) {
    switch (affinity) {
        case Affinity::main:
            return "the main thread";
        case Affinity::session:
            return "the URL session's queue";
        case Affinity::background:
            return "a background job";
        case Affinity::unmarked:
            break;
    }
    return "an unmarked thread";
}

}  // namespace

void markThisThread(Affinity affinity) { current = affinity; }

void assertOn(Affinity expected, std::source_location where) {
    if (current == expected) return;
    std::ostringstream message;
    message << "thread affinity: " << where.function_name() << " must run on " << describe(expected) << ", but thread "
            << std::this_thread::get_id() << " is " << describe(current) << " (" << where.file_name() << ":"
            << where.line() << ")\n";
    // One write, so the line is whole even when other threads print.
    std::fputs(message.str().c_str(), stderr);
    std::abort();
}

}  // namespace orbitreel

#endif
