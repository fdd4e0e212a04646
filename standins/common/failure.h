#pragma once
// The stand-ins fail through the program's one error type; the description
// is the line the tool prints on standard error.

#include <string>

#include "base/error.h"

namespace orbitreel::standins {

// A failure the stand-in finds itself, described by `line`.
Failure failure(std::string line);

// A failed system call, "what: strerror(err)", keeping errno as the code.
Failure failure(const std::string& what, int err);

}  // namespace orbitreel::standins
