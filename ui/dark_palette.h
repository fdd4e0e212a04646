#pragma once
// The installer's colours for every palette role, so the window and its
// dialogs stay dark whatever the desktop's theme.

#include <QPalette>

namespace orbitreel {

QPalette darkPalette();

}  // namespace orbitreel
