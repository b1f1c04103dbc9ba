#include "panel/battery_meter.h"

#include <QPainter>
#include <algorithm>

namespace zanth {

BatteryMeter::BatteryMeter(QWidget* parent) : QWidget(parent) {}

void BatteryMeter::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    setValue(value_);
}

void BatteryMeter::setValue(int value) {
    value = std::clamp(value, minimum_, maximum_);
    if (value == value_) return;
    value_ = value;
    update();
}

void BatteryMeter::setBarColour(const QColor& colour) {
    if (colour == colour_) return;
    colour_ = colour;
    update();
}

void BatteryMeter::setStale(bool stale) {
    if (stale == stale_) return;
    stale_ = stale;
    update();
}

void BatteryMeter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    p.fillRect(rect(), QColor(0xF0, 0xF0, 0xF0));
    const int span = maximum_ - minimum_;
    if (span > 0 && value_ > minimum_) {
        const int w = (frame.width() - 2) * (value_ - minimum_) / span;
        QColor bar = colour_;
        if (stale_) bar = QColor(0xA0, 0xA0, 0xA0);
        p.fillRect(QRect(frame.left() + 1, frame.top() + 1, w, frame.height() - 1), bar);
    }
    p.setPen(QColor(0x80, 0x80, 0x80));
    p.drawRect(frame);
}

}  // namespace zanth
