#pragma once
// What assistive tools read of our own widgets: the window is a frame named
// by its title, as screen readers expect of a top-level window, and Bar is a
// progress indicator whose value is its doubleValue, unscaled (its label
// comes from the window, as accessibleName).

namespace orbitreel {

// Installs the factory once per process; call on the main thread.
void installAccessibility();

}  // namespace orbitreel
