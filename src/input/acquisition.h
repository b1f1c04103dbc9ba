#pragma once
#include <functional>
#include <utility>

namespace zanth {

// Outcome of one attempt to read an input device.
enum class ReadResult { kOk, kInputLost, kNotAcquired, kError };

// Cooperative acquisition shared by the keyboard and the gamepad. At the foreground level a device may be
// read only while the main window is active: losing activation loses the acquisition (the next read reports
// "input lost"), and acquiring again succeeds only once the window is active. At the background level the
// device stays readable whichever window is active.
//
// The poll handling on top of it keeps the usual recovery rhythm: a read that reports "input lost" gives up
// the acquisition, the next one finds the device "not acquired" and asks for it again, and the one after
// that reads, once the window is active.
class Acquisition {
  public:
    void Configure(std::function<bool()> windowIsActive, bool background) {
        windowIsActive_ = std::move(windowIsActive);
        background_ = background;
        acquired_ = false;
    }
    void Reset() { Configure(nullptr, false); }

    bool Acquire() {
        acquired_ = Allowed();
        return acquired_;
    }
    void Unacquire() { acquired_ = false; }
    bool acquired() const { return acquired_; }
    // Acquired, and still allowed to read this moment (no state changes: Check does those).
    bool readable() const { return acquired_ && Allowed(); }
    bool background() const { return background_; }

    // Whether the device may be read right now.
    ReadResult Check() {
        if (!acquired_) return ReadResult::kNotAcquired;
        if (!Allowed()) {
            acquired_ = false;
            return ReadResult::kInputLost;
        }
        return ReadResult::kOk;
    }

  private:
    bool Allowed() const { return background_ || (windowIsActive_ && windowIsActive_()); }

    std::function<bool()> windowIsActive_;
    bool background_ = false;
    bool acquired_ = false;
};

}  // namespace zanth
