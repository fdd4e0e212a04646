#pragma once
// Pins the dates in a freshly written ISO 9660 volume, for images that must
// come out byte for byte the same from the same sources.
//
// The writer takes the volume's dates, and those of the folders it makes
// itself (the root, the folder Rock Ridge moves deep folders into), from
// its clock when it closes, and writes every date in the builder's time
// zone. Every date equal to that clock becomes `sourceDate`, every later one
// is clamped to it, and all are written in UTC: the volume descriptors'
// dates, every directory record's, every Rock Ridge time (continuation areas
// included), and the writer's own note of the time after the descriptors.

#include <cstdint>

#include "standins/common/failure.h"

namespace orbitreel::standins {

// `image` is the open, unsealed volume, which it reads and changes in place.
// A structure it does not understand fails and leaves the file unchanged.
Result<void> pinVolumeDates(int image, std::int64_t sourceDate);

}  // namespace orbitreel::standins
