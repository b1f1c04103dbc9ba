#include "panel/link_indicator.h"

#include <QPainter>

namespace zanth {

LinkIndicator::LinkIndicator(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void LinkIndicator::setLight(Light light) {
    if (light == light_) return;
    light_ = light;
    update();
}

void LinkIndicator::paintEvent(QPaintEvent*) {
    QColor fill;
    switch (light_) {
        case Light::kOff:
            fill = QColor(170, 170, 170);
            break;
        case Light::kIdle:
            fill = QColor(20, 90, 20);
            break;
        case Light::kBlink:
            fill = QColor(40, 230, 40);
            break;
        case Light::kNoReplyIdle:
            fill = QColor(110, 80, 0);
            break;
        case Light::kNoReplyBlink:
            fill = QColor(255, 180, 0);
            break;
        case Light::kLost:
            fill = QColor(230, 0, 0);
            break;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(fill);
    const qreal side = std::min(width(), height()) - 2;
    p.drawEllipse(QRectF((width() - side) / 2, (height() - side) / 2, side, side));
}

}  // namespace zanth
