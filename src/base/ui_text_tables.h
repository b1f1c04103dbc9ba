#pragma once
// The two tables of the program's texts, each in its own file; only ui_text.cpp reads them.
#include <array>
#include <cstddef>

#include "base/ui_text.h"

namespace zanth {

using UiTextTable = std::array<const char*, static_cast<std::size_t>(Msg::kCount)>;

// std::array fills missing initialisers with null, so a table one entry short would still compile.
constexpr bool UiTextTableComplete(const UiTextTable& table) {
    for (const char* text : table)
        if (text == nullptr) return false;
    return true;
}

const UiTextTable& JapaneseTexts();
const UiTextTable& EnglishTexts();

}  // namespace zanth
