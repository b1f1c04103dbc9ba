#include "base/reason_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace zanth {
namespace {

bool HasLatinLetter(const std::string& text) {
    for (char c : text)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) return true;
    return false;
}

// The reasons the system and the program give, as they are put together today, read wholly in Japanese.
TEST(ReasonText, CommonReasonsInJapaneseAndAsGivenInEnglish) {
    const std::string reasons[] = {
        std::strerror(EACCES),
        std::strerror(ENOENT),
        std::strerror(ENODEV),
        std::strerror(ENXIO),
        std::strerror(EBUSY),
        std::string(std::strerror(EFBIG)) +
            " (> 4 MB); the existing file was not read, so it was left unchanged",
        std::strerror(ENOSPC),
        std::strerror(EROFS),
        "not a serial device",
        "the port is in use by another program",
        "Not a regular file",
        "larger than 64 MB",
    };
    for (const std::string& reason : reasons) {
        const std::string ja = ReasonText(reason, Language::kJapanese);
        // "MB" is a name, the rest is ours.
        std::string words = ja;
        if (const auto at = words.find("MB"); at != std::string::npos) words.erase(at, 2);
        EXPECT_FALSE(HasLatinLetter(words)) << reason << " -> " << ja;
        EXPECT_EQ(ReasonText(reason, Language::kEnglish), reason);
    }
    EXPECT_EQ(ReasonText("larger than 64 MB", Language::kJapanese), "64 MB を超えています");
    // A reason it does not know stays as the system gave it; a known one only where a word starts.
    EXPECT_EQ(ReasonText("Exec format error", Language::kJapanese), "Exec format error");
    EXPECT_EQ(ReasonText("Xnot a serial device", Language::kJapanese), "Xnot a serial device");
}

}  // namespace
}  // namespace zanth
