#pragma once
// The stand-ins report every failure as a value carrying one line for stderr.

#include <expected>
#include <string>

namespace orbitreel::standins {

template <class T>
using Outcome = std::expected<T, std::string>;

inline std::unexpected<std::string> failure(std::string message) {
    return std::unexpected<std::string>(std::move(message));
}

// "what: strerror(err)", for failures of system calls.
std::string posixMessage(const std::string& what, int err);

}  // namespace orbitreel::standins
