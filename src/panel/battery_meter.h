#pragma once
#include <QColor>
#include <QWidget>

namespace zanth {

// The battery meter: a bar over a fixed range whose colour tells the charge. Like a classic progress bar,
// positions outside the range are pinned to it. While `stale` the bar is greyed: no reply has come for a
// while.
class BatteryMeter : public QWidget {
    Q_OBJECT
  public:
    explicit BatteryMeter(QWidget* parent = nullptr);
    void setRange(int minimum, int maximum);
    void setValue(int value);
    void setBarColour(const QColor& colour);
    void setStale(bool stale);
    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    int minimum_ = 0, maximum_ = 100, value_ = 0;
    QColor colour_{0, 0, 255};
    bool stale_ = false;
};

}  // namespace zanth
