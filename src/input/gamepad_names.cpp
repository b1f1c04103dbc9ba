#include "input/gamepad_names.h"

#include "base/ui_text.h"

namespace zanth {
namespace {

template <std::size_t N>
int IndexOf(const std::array<CodeName, N>& names, int code) {
    for (std::size_t i = 0; i < N; ++i)
        if (names[i].code == code) return static_cast<int>(i);
    return -1;
}

template <std::size_t N>
std::optional<std::string> NameOf(const std::array<CodeName, N>& names, int code) {
    const int i = IndexOf(names, code);
    if (i < 0) return std::nullopt;
    return names[static_cast<std::size_t>(i)].name;
}

}  // namespace

GamepadNames::GamepadNames(Language language) {
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
    return IndexOf(buttonNames, code);
}

std::optional<std::string> GamepadNames::ButtonName(int code) const {
    return NameOf(buttonNames, code);
}

int GamepadNames::AxisIndex(int code) const {
    return IndexOf(axisNames, code);
}

std::optional<std::string> GamepadNames::AxisName(int code) const {
    return NameOf(axisNames, code);
}

}  // namespace zanth
