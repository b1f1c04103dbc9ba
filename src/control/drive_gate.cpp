#include "control/drive_gate.h"

#include <ctime>

#include "base/ui_text.h"
#include "control/monitor_model.h"

namespace zanth {

std::string StopperText(const StopRecord& stop, Language language) {
    switch (stop.by) {
        case StopBy::kKey:
            return UiText(Msg::kStopByKey, language);
        case StopBy::kButton:
            return UiText(Msg::kStopByWindow, language);
        case StopBy::kRemote:
            return Format(UiText(Msg::kStopByRemote, language), {stop.who});
        case StopBy::kGamepad:
            return UiText(Msg::kStopByPad, language);
        case StopBy::kMatchEnd:
            break;
    }
    return UiText(Msg::kStopByMatch, language);
}

std::string StopTimeText(const StopRecord& stop) {
    const std::time_t t = std::chrono::system_clock::to_time_t(stop.at);
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

bool DriveGate::Stop(StopBy by, std::string who, std::chrono::system_clock::time_point at) {
    driving_ = false;
    if (stop_) return false;
    stop_ = StopRecord{by, std::move(who), at};
    return true;
}

bool DriveGate::Release(ReleaseBy by) {
    if (!MayRelease(by) || !stop_) return false;
    stop_.reset();
    waiting_.fill(true);
    return true;
}

void DriveGate::SetEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    driving_ = false;
    waiting_.fill(true);
}

bool DriveGate::Drives(const Holding& holding) {
    // Whatever a source holds when the robot is let go must be let go of before the robot drives: a key held
    // down at that moment would move it at once. Each source counts from then, so that one not read while
    // the robot was held (a window not active) is not taken for one that let go.
    const bool open = !stop_ && enabled_;
    bool anyWaiting = false;
    for (std::size_t i = 0; i < waiting_.size(); ++i) {
        waiting_[i] = waiting_[i] && (holding[i] || !open);
        anyWaiting = anyWaiting || waiting_[i];
    }
    driving_ = open && !anyWaiting;
    return driving_;
}

}  // namespace zanth
