#pragma once
#include <QRect>
#include <cmath>

namespace zanth {

// The main window's layout is given in dialog units of a 457 x 400 template that covers the 800 x 600
// picture: 1.75 pixels per horizontal unit, 1.5 per vertical unit.
inline QRect DialogUnitsToPixels(int x, int y, int w, int h) {
    auto px = [](double v) { return static_cast<int>(std::lround(v)); };
    return QRect(px(x * 1.75), px(y * 1.5), px(w * 1.75), px(h * 1.5));
}

}  // namespace zanth
