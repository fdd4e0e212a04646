#pragma once
// A broken invariant ends the run like a crash, so the fuzzer keeps the input.

#include <cstdio>
#include <cstdlib>

namespace orbitreel::fuzz {

inline void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

}  // namespace orbitreel::fuzz
