#pragma once
#include <array>

#include "control/press_latch.h"
#include "input/input_state.h"
#include "model/controller_model.h"
#include "remote/remote_input.h"

namespace zanth {

class GamepadDevice;
class KeyboardDevice;
class RemoteServer;

// One source of the controller's input. Each marks the items with a flag of its own, and an item is pressed
// while any source holds it; the sticks are made after every source's items are in.
class InputSource {
  public:
    virtual ~InputSource() = default;
    // The presses that began since the last call, which may have ended before any sample saw them. The
    // source keeps them as well, to show them to the next tick.
    virtual ItemSet TakePresses(const ControllerModel& model) = 0;
    // The tick: what the source holds now, with its presses since the last tick, into the model; `pressed`
    // gets presses found meanwhile. False when its device could not be read (what it held is let go of).
    virtual bool Tick(ControllerModel& model, ItemSet& pressed) = 0;
    // Between ticks: what the source holds this moment, into a copy of the model. Decides nothing.
    virtual void Sample(ControllerModel& now) = 0;
    // After every source's items: the sticks, as of the last Tick or Sample.
    virtual void Sticks(ControllerModel&) {}
};

class KeyboardSource final : public InputSource {
  public:
    explicit KeyboardSource(KeyboardDevice& keyboard) : keyboard_(keyboard) {}
    ItemSet TakePresses(const ControllerModel& model) override;
    bool Tick(ControllerModel& model, ItemSet& pressed) override;
    void Sample(ControllerModel& now) override;

  private:
    KeyboardDevice& keyboard_;
    KeyStates taps_{};
};

// The buttons, the hat and the left stick; the right stick belongs to the sliders the window shows.
class PadSource final : public InputSource {
  public:
    explicit PadSource(GamepadDevice& pad) : pad_(pad) {}
    ItemSet TakePresses(const ControllerModel& model) override;
    bool Tick(ControllerModel& model, ItemSet& pressed) override;
    void Sample(ControllerModel& now) override;
    void Sticks(ControllerModel& model) override;

  private:
    GamepadDevice& pad_;
    ItemSet taps_;
    std::array<int, 2> left_{128, 128};  // the left stick's axes as last read
};

// Clicks on the picture: the window sets the items' flags itself and tells each press here.
class MouseSource final : public InputSource {
  public:
    void Press(const ItemSet& items) { taps_ |= items; }
    ItemSet TakePresses(const ControllerModel&) override { return {}; }
    bool Tick(ControllerModel& model, ItemSet& pressed) override;
    void Sample(ControllerModel&) override {}

  private:
    ItemSet taps_;
    ItemSet heldByTick_;  // clicks the tick holds for one tick
};

// The remote-control clients: their items, and a stick following whichever moved it last.
class RemoteSource final : public InputSource {
  public:
    explicit RemoteSource(RemoteServer& server) : server_(server) {}
    ItemSet TakePresses(const ControllerModel& model) override;
    bool Tick(ControllerModel& model, ItemSet& pressed) override;
    void Sample(ControllerModel& now) override;
    void Sticks(ControllerModel& model) override;
    // Every client's items let go of in the model at once.
    static void LetGo(ControllerModel& model);

  private:
    RemoteServer& server_;
    ItemSet taps_;
    RemoteInput input_;  // as the last Tick or Sample read it
    StickMerge sticks_;  // the other sources' sticks against the clients'
};

}  // namespace zanth
