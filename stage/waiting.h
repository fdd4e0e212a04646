#pragma once
// Waiting for what a user would see happen, with a limit, and giving up at
// once when the person watching asks the stage to stop (Ctrl-C).

#include <chrono>
#include <functional>
#include <stdexcept>

namespace orbitreel::stage {

struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("interrupted") {}
};

// SIGINT, SIGTERM and SIGHUP make every later wait throw Interrupted.
void stopOnSignals();
bool stopRequested();

// Polls `condition` until it holds (true) or `timeout` passes (false).
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = std::chrono::milliseconds(20));

}  // namespace orbitreel::stage
