#include "input/gamepad_names.h"

#include "base/ui_text.h"

namespace zanth {

GamepadNames::GamepadNames(int language) {
    const std::string none = UiText(Msg::kNone, language);
    buttonNames[0] = {-1, none};
    const std::string button = UiText(Msg::kPadButton, language);
    for (int i = 0; i < 20; ++i)
        buttonNames[static_cast<std::size_t>(i + 1)] = {i, button + std::to_string(i + 1)};
    // Axis codes 0..5 in the order of the gamepad reading.
    static const char* const kAxes[6] = {"X", "Y", "Z", "RX", "RY", "RZ"};
    axisNames[0] = {-1, none};
    for (int i = 0; i < 6; ++i) {
        axisNames[static_cast<std::size_t>(i + 1)] = {
            i, std::string(kAxes[i]) + UiText(Msg::kAxisSuffix, language)};
    }
}

int GamepadNames::ButtonIndex(int code) const {
    for (std::size_t i = 0; i < buttonNames.size(); ++i) {
        if (buttonNames[i].code == code) return static_cast<int>(i);
    }
    return -1;
}

std::optional<std::string> GamepadNames::ButtonName(int code) const {
    const int i = ButtonIndex(code);
    if (i < 0) return std::nullopt;
    return buttonNames[static_cast<std::size_t>(i)].name;
}

int GamepadNames::AxisIndex(int code) const {
    for (std::size_t i = 0; i < axisNames.size(); ++i) {
        if (axisNames[i].code == code) return static_cast<int>(i);
    }
    return -1;
}

std::optional<std::string> GamepadNames::AxisName(int code) const {
    const int i = AxisIndex(code);
    if (i < 0) return std::nullopt;
    return axisNames[static_cast<std::size_t>(i)].name;
}

}  // namespace zanth
