#pragma once
// The window's frames are drawn up with the origin at the bottom-left corner
// of the containing view and y growing upwards; Qt places children from the
// top-left with y growing downwards. This is the one place that converts.

#include <QRect>

namespace orbitreel {

struct BottomLeftFrame {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

constexpr QRect topLeftFrame(BottomLeftFrame frame, int parentHeight) {
    return QRect(frame.x, parentHeight - frame.y - frame.height, frame.width, frame.height);
}

}  // namespace orbitreel
