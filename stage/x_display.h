#pragma once
// The screen the installer's window appears on: a virtual X server (Xvfb) or
// the user's own display, and what a person does there: find a window by its
// title, press a key in it, close it, look at it.

#include <QImage>
#include <QRect>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stage/child_process.h"

namespace orbitreel::stage {

// Xvfb on the first free display number, stopped with the object.
class VirtualScreen {
public:
    VirtualScreen(int width = 1024, int height = 768);
    ~VirtualScreen();
    VirtualScreen(const VirtualScreen&) = delete;
    VirtualScreen& operator=(const VirtualScreen&) = delete;

    const std::string& displayName() const { return name_; }

private:
    ChildProcess server_;
    std::string name_;
};

struct TopWindow {
    unsigned long id = 0;
    std::string title;
    QRect frame;  // in screen coordinates
};

class XConnection {
public:
    // Throws when the display cannot be opened.
    explicit XConnection(const std::string& displayName);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    // Tells whether a display can be opened at all.
    static bool reachable(const std::string& displayName);

    // The top-level windows a user can see, bottom to top.
    std::vector<TopWindow> visibleWindows();
    std::optional<TopWindow> windowTitled(const std::string& title);

    // Gives the window the keyboard focus and presses and releases Return in
    // it, as a user at the keyboard would.
    void pressReturn(const TopWindow& window);
    // Asks the window to close, as its close box does.
    void requestClose(const TopWindow& window);
    // The pixels of `area` of the screen.
    QImage grab(const QRect& area);
    // The smallest rectangle holding every visible window, plus `margin`.
    QRect visibleArea(int margin = 0);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orbitreel::stage
