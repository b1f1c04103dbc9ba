#include "base/ui_text.h"

#include <cstddef>

#include "base/ui_text_tables.h"

namespace zanth {

const char* UiText(Msg id, Language language) {
    const auto i = static_cast<std::size_t>(id);
    if (i >= static_cast<std::size_t>(Msg::kCount)) return "";
    return language == Language::kJapanese ? JapaneseTexts()[i] : EnglishTexts()[i];
}

}  // namespace zanth
