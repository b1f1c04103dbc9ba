#include "base/ui_text.h"

#include <gtest/gtest.h>

#include <set>
#include <string_view>

namespace zanth {
namespace {

bool Ascii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// The entries that read alike in both languages anchor the tables: a table that slipped out of alignment puts
// a different text on one of them, or a Japanese and an English text of the same language side by side.
TEST(UiText, TablesStayAlignedWithATextForEveryEntry) {
    const std::set<Msg> sameInBoth{Msg::kCaptionError, Msg::kOk,           Msg::kOn,
                                   Msg::kOff,          Msg::kSoundDlgPlay, Msg::kSoundDlgStop};
    for (int i = 0; i < static_cast<int>(Msg::kCount); ++i) {
        const Msg id = static_cast<Msg>(i);
        const std::string_view ja = UiText(id, Language::kJapanese);
        const std::string_view en = UiText(id, Language::kEnglish);
        EXPECT_FALSE(ja.empty()) << i;
        EXPECT_FALSE(en.empty()) << i;
        EXPECT_TRUE(Ascii(en)) << i << ": " << en;
        if (sameInBoth.count(id)) {
            EXPECT_EQ(ja, en) << i;
        } else {
            EXPECT_NE(ja, en) << i << ": " << en;
            EXPECT_FALSE(Ascii(ja)) << i << ": " << ja;
        }
    }
}

}  // namespace
}  // namespace zanth
