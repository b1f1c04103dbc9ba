// Files of the Windows program: CP932 detected, cut on its character boundaries, converted both ways.
#include "base/text.h"

#include <gtest/gtest.h>

namespace zanth {
namespace {

// "ソ" is 83 5C in CP932: its trail byte is a backslash, and "音" (89 B9) is made of bytes that are UTF-8
// continuation bytes.
const std::string kSo = "\x83\x5C";
const std::string kOn = "\x89\xB9";
const std::string kHalfWidthA = "\xB1";  // "ｱ", one byte

TEST(Cp932, CutsNeverSplitACharacter) {
    struct Case {
        std::string in;
        std::size_t limit;
        std::string out;
    } cases[] = {
        {kOn + kOn + kOn, 5, kOn + kOn},
        {kOn + kOn + kOn, 6, kOn + kOn + kOn},
        {"a" + kSo + kSo, 4, "a" + kSo},
        {kHalfWidthA + kOn, 2, kHalfWidthA},
        {kHalfWidthA + kOn, 3, kHalfWidthA + kOn},
        // A lead byte whose trail was lost counts as one byte.
        {"ab\x83", 3, "ab\x83"},
    };
    for (const Case& c : cases) EXPECT_EQ(CutCp932(c.in, c.limit), c.out) << c.limit;
    // In the file's encoding: 35 of "音" are 70 bytes of CP932 and 105 of UTF-8; a 62-byte limit keeps 31.
    std::string on35, on31;
    for (int i = 0; i < 35; ++i) on35 += "音";
    for (int i = 0; i < 31; ++i) on31 += "音";
    EXPECT_EQ(CutToEncoded(on35, 62, TextEncoding::kCp932), on31);
    EXPECT_EQ(EncodedSize(on31, TextEncoding::kCp932), 62u);
    EXPECT_EQ(CutToEncoded(on35, 62, TextEncoding::kUtf8).size(), 60u);
}

TEST(Cp932, DetectedByInvalidUtf8AndConvertedBothWays) {
    EXPECT_EQ(DetectEncoding("[SOUND]\r\n1_NAME=horn\r\n"), TextEncoding::kUtf8);
    EXPECT_EQ(DetectEncoding("1_NAME=ホーン"), TextEncoding::kUtf8);
    EXPECT_EQ(DetectEncoding("1_NAME=" + kSo + "\x83\x69\x81\x5B"), TextEncoding::kCp932);
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF

    const std::string sonar = kSo + "\x83\x69\x81\x5B";  // "ソナー"
    EXPECT_EQ(Cp932ToUtf8(".\\Data\\" + sonar + ".wav"), ".\\Data\\ソナー.wav");
    EXPECT_EQ(Utf8ToCp932("ソナー～①"), sonar + "\x81\x60\x87\x40");
    EXPECT_EQ(Utf8ToCp932("café"), std::nullopt);
    EXPECT_EQ(Cp932ToUtf8("a\xFF"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(EncodedSize("café", TextEncoding::kCp932), 5u);  // counted as the UTF-8 it will be written in
}

TEST(Text, ControlCharactersAreEscapedForTheLog) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain ASCII and 日本語", "plain ASCII and 日本語"},
        {"host\r\nX: y", "host\\r\nX: y"},
        {"\x1b[2J\x7f\t", "\\x1b[2J\\x7f\\x09"},
        {"a\xc2\x9b"
         "31m b\xc2\xa0"
         "c",
         "a\\u009b"
         "31m b\xc2\xa0"
         "c"},  // C1 CSI escaped, no-break space kept
        {"cut\xc2", "cut\xc2"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(EscapeControls(in), out) << in;
}

}  // namespace
}  // namespace zanth
