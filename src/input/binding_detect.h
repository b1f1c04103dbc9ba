#pragma once
// Binding by pressing, and bindings that two rows share: the rules behind the operation settings dialog.
#include <optional>
#include <vector>

#include "input/input_state.h"
#include "input/mapping.h"

namespace zanth {

// The first button that is down in `now` and was up in `before`, among the buttons 0 .. buttonCount-1.
std::optional<int> NewlyPressedButton(const GamepadState& before, const GamepadState& now, int buttonCount);
// The first axis code (0..5) whose reading left the dead zone between `before` and `now`.
std::optional<int> AxisLeavingDeadZone(const GamepadState& before, const GamepadState& now);

// The other rows that share a row's key, and its gamepad button. Only bindings that act count: keys of the
// rows that take keys, buttons of the button rows.
struct RowConflicts {
    std::vector<int> key;
    std::vector<int> button;
};
std::vector<RowConflicts> FindConflicts(const std::vector<MappingEntry>& rows);

}  // namespace zanth
