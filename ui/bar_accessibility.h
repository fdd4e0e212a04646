#pragma once
// Accessibility for Bar: a progress indicator whose value is the bar's
// doubleValue, unscaled. The label comes from the window (accessibleName).

namespace orbitreel {

// Installs the factory once per process; call on the main thread.
void installBarAccessibility();

}  // namespace orbitreel
