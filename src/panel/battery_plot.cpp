#include "panel/battery_plot.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>

#include "control/session.h"
#include "link/frame.h"

namespace zanth {
namespace {

constexpr int kLow = ControlSession::kMeterMin;
constexpr int kHigh = ControlSession::kMeterMax;

double LevelY(const QRect& area, double level) {
    const double clamped = std::clamp(level, double(kLow), double(kHigh));
    return area.bottom() - (clamped - kLow) / (kHigh - kLow) * area.height();
}

double TimeX(const QRect& area, const MonitorModel::Plot& plot, std::int64_t atUs) {
    const double span = static_cast<double>(std::max<std::int64_t>(1, plot.toUs - plot.fromUs));
    return area.left() + static_cast<double>(atUs - plot.fromUs) / span * area.width();
}

QColor Tint(int level, int alpha) {
    const Rgb c = BatteryColour(level);
    return QColor(c.r, c.g, c.b, alpha);
}

}  // namespace

BatteryPlot::BatteryPlot(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(120);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BatteryPlot::SetPlot(MonitorModel::Plot plot) {
    plot_ = std::move(plot);
    update();
}

QRect BatteryPlot::Area() const {
    const int labels = fontMetrics().horizontalAdvance("000") + 8;
    return rect().adjusted(labels, 6, -8, -fontMetrics().height() - 6);
}

void BatteryPlot::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().window());
    const QRect area = Area();
    DrawBands(p, area);
    // No reply came here.
    p.setPen(Qt::NoPen);
    p.setBrush(QBrush(QColor(90, 90, 90, 110), Qt::BDiagPattern));
    for (const auto& [from, to] : plot_.gaps) {
        const double x0 = std::max(TimeX(area, plot_, from), double(area.left()));
        const double x1 = std::min(TimeX(area, plot_, to), double(area.right()));
        if (x1 > x0) p.drawRect(QRectF(x0, area.top(), x1 - x0, area.height()));
    }
    DrawRuns(p, area);
    DrawAxes(p, area);
}

// The colour bands of the meter, as on the meter: each level in its own colour.
void BatteryPlot::DrawBands(QPainter& p, const QRect& area) const {
    for (int level = kLow; level <= kHigh; ++level) {
        const double top = LevelY(area, level + 0.5), bottom = LevelY(area, level - 0.5);
        p.fillRect(QRectF(area.left(), top, area.width(), bottom - top), Tint(level, 70));
    }
}

void BatteryPlot::DrawAxes(QPainter& p, const QRect& area) const {
    p.setPen(palette().windowText().color());
    p.setBrush(Qt::NoBrush);
    p.drawRect(area);
    const int h = fontMetrics().height();
    for (int level : {kLow, 66, 73, kHigh}) {
        const int y = static_cast<int>(LevelY(area, level));
        p.drawLine(area.left() - 3, y, area.left(), y);
        p.drawText(QRect(0, y - h / 2, area.left() - 5, h), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(level));
    }
    // Minutes before now.
    for (int minutes = 10; minutes >= 0; minutes -= 2) {
        const int x = area.left() + area.width() * (10 - minutes) / 10;
        p.drawLine(x, area.bottom(), x, area.bottom() + 3);
        const QString label = minutes == 0 ? QStringLiteral("0") : minutesLabel_.arg(minutes);
        const int w = fontMetrics().horizontalAdvance(label);
        const int left = std::clamp(x - w / 2, 0, width() - w);
        p.drawText(QRect(left, area.bottom() + 4, w, h), Qt::AlignCenter, label);
    }
}

// One polyline per run, thinned to a point per pixel column and level: ten minutes of replies are some
// 4800 points for a few hundred pixels.
void BatteryPlot::DrawRuns(QPainter& p, const QRect& area) const {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(palette().windowText().color(), 1.5));
    p.setBrush(palette().windowText());
    QPolygonF line;
    for (const std::vector<MonitorModel::Sample>& run : plot_.runs) {
        line.clear();
        for (const MonitorModel::Sample& s : run) {
            const QPointF point(TimeX(area, plot_, s.atUs), LevelY(area, s.level));
            if (point.x() < area.left()) continue;
            if (!line.isEmpty() && int(line.back().x()) == int(point.x()) && line.back().y() == point.y())
                continue;
            line.append(point);
        }
        if (line.size() == 1) p.drawEllipse(line.front(), 1.5, 1.5);
        if (line.size() > 1) p.drawPolyline(line);
    }
    p.setRenderHint(QPainter::Antialiasing, false);
}

}  // namespace zanth
