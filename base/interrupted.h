#pragma once
// A system call that a signal interrupts before it did anything fails with
// EINTR and is simply made again. Every such retry in the program goes
// through here.

#include <cerrno>

namespace orbitreel::base {

// Calls `call` again for as long as it fails with -1 and errno EINTR, and
// returns its first other result (errno is left as the call set it).
template <class Call>
auto retryInterrupted(Call&& call) {
    for (;;) {
        auto result = call();
        if (result != -1 || errno != EINTR) return result;
    }
}

}  // namespace orbitreel::base
