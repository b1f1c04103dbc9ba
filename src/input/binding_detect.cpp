#include "input/binding_detect.h"

#include <algorithm>
#include <cstddef>

#include "input/apply.h"

namespace zanth {
namespace {

bool Down(const GamepadState& s, int button) {
    return s.buttons[static_cast<std::size_t>(button)] > kButtonThreshold;
}

bool OutsideDeadZone(int raw) {
    return raw < kDeadZoneLow || raw > kDeadZoneHigh;
}

bool KeyActs(const MappingEntry& row) {
    const bool takesKey =
        row.type == kMapButton || row.type == kMapStickDirection || row.type == kMapPadDirection;
    return takesKey && row.keyCode > 0 && row.keyCode < 256;
}

bool ButtonActs(const MappingEntry& row) {
    return row.type == kMapButton && row.padButton >= 0 && row.padButton < 128;
}

}  // namespace

std::optional<int> NewlyPressedButton(const GamepadState& before, const GamepadState& now, int buttonCount) {
    const int count = std::min(buttonCount, static_cast<int>(now.buttons.size()));
    for (int b = 0; b < count; ++b) {
        if (Down(now, b) && !Down(before, b)) return b;
    }
    return std::nullopt;
}

std::optional<int> AxisLeavingDeadZone(const GamepadState& before, const GamepadState& now) {
    // A known pad moves Z with RX and RZ with RY (its right stick sits on both pairs): Z and RZ come first,
    // as the factory bindings have them.
    static constexpr int kOrder[] = {0, 1, 2, 5, 3, 4};
    for (int code : kOrder) {
        const auto i = static_cast<std::size_t>(code);
        if (OutsideDeadZone(now.axes[i]) && !OutsideDeadZone(before.axes[i])) return code;
    }
    return std::nullopt;
}

std::vector<RowConflicts> FindConflicts(const std::vector<MappingEntry>& rows) {
    std::vector<RowConflicts> out(rows.size());
    for (std::size_t a = 0; a < rows.size(); ++a) {
        for (std::size_t b = 0; b < rows.size(); ++b) {
            if (a == b) continue;
            if (KeyActs(rows[a]) && KeyActs(rows[b]) && rows[a].keyCode == rows[b].keyCode)
                out[a].key.push_back(static_cast<int>(b));
            if (ButtonActs(rows[a]) && ButtonActs(rows[b]) && rows[a].padButton == rows[b].padButton)
                out[a].button.push_back(static_cast<int>(b));
        }
    }
    return out;
}

}  // namespace zanth
