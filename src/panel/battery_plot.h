#pragma once
#include <QWidget>

#include "control/monitor_model.h"

namespace zanth {

// The battery level over the last ten minutes: the line of the replies over the meter's colour bands, with
// the spans in which no reply came hatched. Drawn by hand; repainting it costs well under a millisecond.
class BatteryPlot : public QWidget {
    Q_OBJECT
  public:
    explicit BatteryPlot(QWidget* parent = nullptr);
    void SetPlot(MonitorModel::Plot plot);
    // The label of a time on the axis, with %1 for the minutes before now.
    void SetMinutesLabel(const QString& label) { minutesLabel_ = label; }
    const MonitorModel::Plot& plot() const { return plot_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QRect Area() const;
    void DrawBands(QPainter& p, const QRect& area) const;
    void DrawAxes(QPainter& p, const QRect& area) const;
    void DrawRuns(QPainter& p, const QRect& area) const;

    MonitorModel::Plot plot_;
    QString minutesLabel_ = "-%1 min";
};

}  // namespace zanth
