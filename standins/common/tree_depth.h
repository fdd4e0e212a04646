#pragma once
// How deep a tree the stand-ins take. Every walk stops there, so that none
// runs out of stack or descriptors, and create, attach, ditto and codesign
// agree on what a bundle may hold.
//
// The bound is what an image can carry. An ISO 9660 volume nests folders 8
// deep; Rock Ridge moves deeper ones into a folder of their own, and
// libarchive's writer moves a folder only once (one that would need a second
// move crashes it). So no entry lies more than 13 names below the root.

#include <cstddef>

namespace orbitreel::standins {

inline constexpr std::size_t MaxTreeDepth = 13;

// Folders this deep are the ones an image moves, all into one folder, where
// two of one name would collide.
inline constexpr std::size_t MovedFolderDepth = 8;

}  // namespace orbitreel::standins
