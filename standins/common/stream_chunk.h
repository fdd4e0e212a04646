#pragma once
// How much the stand-ins read or copy at a time when they stream a file:
// large enough that system calls cost little, small enough to bound memory.

#include <cstddef>

namespace orbitreel::standins {

inline constexpr std::size_t StreamChunkSize = 1 << 20;

}  // namespace orbitreel::standins
