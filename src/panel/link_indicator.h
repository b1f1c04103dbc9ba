#pragma once
#include <QWidget>

namespace zanth {

// A small lamp beside the battery meter: it blinks with every message that goes out (green while the robot
// replies, amber while it does not: the lamp tells messages going out, not a healthy robot), and turns red
// when the port is lost.
class LinkIndicator : public QWidget {
    Q_OBJECT
  public:
    enum class Light { kOff, kIdle, kBlink, kNoReplyIdle, kNoReplyBlink, kLost };
    explicit LinkIndicator(QWidget* parent = nullptr);
    void setLight(Light light);
    Light light() const { return light_; }

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    Light light_ = Light::kOff;
};

}  // namespace zanth
