#pragma once
#include <memory>
#include <vector>

#include "control/input_sources.h"
#include "control/press_latch.h"
#include "link/frame.h"

namespace zanth {

class FrameDecoder;

// Every source of input folded into the model and the frame by one rule: each source's items in the order
// they are registered (the constructor), then each source's part of the sticks. Presses shorter than the time
// between two samples are kept on the frames until a message carried them (PressLatch), and shown to the next
// tick through each source's own flag.
class InputMixer {
  public:
    // `model` is the session's: its bindings teach the decoder which bit each item sets.
    InputMixer(const ControllerModel& model, KeyboardDevice& keyboard, GamepadDevice& pad,
               RemoteServer& remote);
    ~InputMixer();

    struct Readable {
        bool keyboard = false;
        bool gamepad = false;
    };
    // The presses every source saw begin since it was last asked.
    void TakePresses(const ControllerModel& model);
    // The keyboard's alone (its events came).
    void TakeKeyPresses(const ControllerModel& model);
    void NoteMousePress(const ItemSet& items);
    // The tick: every source's items into the model.
    Readable TickItems(ControllerModel& model);
    // Between ticks: every source into `now`, a copy of the model; sticks included.
    void Sample(ControllerModel& now);
    // After the tick's items and the right stick the sliders give: the sticks.
    void Sticks(ControllerModel& model);
    // The frame of `model` with every press not yet carried by a message.
    ControllerFrame FrameWithTaps(const ControllerModel& model);
    // A message left with `frame` (live, not played): the presses it carried are done.
    void Sent(const ControllerFrame& frame);
    // Nothing goes to the robot (no link, or a played session): presses meanwhile went nowhere.
    void ClearTaps() { latch_.Clear(); }
    static void LetGoOfRemote(ControllerModel& model) { RemoteSource::LetGo(model); }

  private:
    void Register(std::unique_ptr<InputSource> source);

    std::vector<std::unique_ptr<InputSource>> sources_;  // in the order they fold
    PadSource* pad_ = nullptr;
    MouseSource* mouse_ = nullptr;
    KeyboardSource* keyboard_ = nullptr;
    PressLatch latch_;
    std::unique_ptr<FrameDecoder> decoder_;
};

}  // namespace zanth
