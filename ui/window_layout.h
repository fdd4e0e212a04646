#pragma once
// The installer's window: its views at their frames, with their fonts,
// colours and texts.

#include <functional>

namespace orbitreel {

class Bar;
class InstallerWindow;
class LineLimitedLabel;
class PrimaryButton;

struct WindowViews {
    InstallerWindow* window;
    LineLimitedLabel* status;
    LineLimitedLabel* details;
    Bar* bar;
    PrimaryButton* action;
};

// Builds the window around the controller's live views, which it takes into
// its ownership; the window asks `shouldClose` before it closes.
WindowViews buildInstallerWindow(std::function<bool()> shouldClose, LineLimitedLabel* status, LineLimitedLabel* details,
                                 Bar* bar);

}  // namespace orbitreel
