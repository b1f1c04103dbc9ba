#pragma once
#include <array>
#include <optional>
#include <string>

#include "base/ui_text.h"

namespace zanth {

// A code (button index or axis code, -1 = none) with the name the settings dialog shows for it.
struct CodeName {
    int code = -1;
    std::string name;
};

// The names the operation settings offer for gamepad buttons and axes. They depend on the language only,
// not on which gamepad is plugged in, so the dialog can name bindings while none is there.
class GamepadNames {
  public:
    explicit GamepadNames(Language language = Language::kEnglish);

    // Position of a code in buttonNames / axisNames (0 is "none", for code -1), -1 when absent.
    int ButtonIndex(int code) const;
    std::optional<std::string> ButtonName(int code) const;
    int AxisIndex(int code) const;
    std::optional<std::string> AxisName(int code) const;

    std::array<CodeName, 21> buttonNames;
    std::array<CodeName, 7> axisNames;
};

}  // namespace zanth
