#pragma once
// Running the Qt event loop from a test.

#include <functional>

namespace orbitreel::test_support {

// Runs the event loop until `condition` holds; false if it never did within
// a generous bound (a guard against hanging, not a measurement).
bool eventually(const std::function<bool()>& condition);
// Runs the event loop for what is already posted.
void settle();

}  // namespace orbitreel::test_support
