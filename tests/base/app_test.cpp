#include "base/app.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace zanth {
namespace {

CPadoraApp MakeApp(std::string language, bool shift = false, std::string dir = "/home/op") {
    StartupInfo info;
    info.languageName = std::move(language);
    info.leftShiftDown = shift;
    info.currentDirectory = std::move(dir);
    return CPadoraApp(info);
}

TEST(Language, ChosenBySystemLanguageShiftAndOption) {
    struct Case {
        const char* system;
        bool shift;
        std::optional<int> option;
        int expected;
    } cases[] = {
        {"Japanese", false, {}, 1}, {"Japanese", true, {}, 0},          {"English", false, {}, 0},
        {"English", true, {}, 0},   {"Japanese (Japan)", false, {}, 1}, {"Japan", false, {}, 0},
        {"English", false, 1, 1},   {"Japanese", false, 0, 0},          {"Japanese", true, 1, 1},
    };
    for (const Case& c : cases) {
        StartupInfo info{c.system, c.shift, "/tmp", c.option, {}};
        EXPECT_EQ(CPadoraApp(info).language, c.expected) << c.system << " shift=" << c.shift;
    }
}

TEST(KeyTable, NoneEntryFollowsLanguage) {
    auto ja = MakeApp("Japanese");
    auto en = MakeApp("English");
    ASSERT_EQ(ja.keyNameCount(), 60);
    EXPECT_EQ(ja.keyNames[0].name, "なし");
    EXPECT_EQ(en.keyNames[0].name, "none");
    EXPECT_EQ(ja.keyNames[0].scanCode, -1);
    EXPECT_EQ(en.FindNameByScanCode(-1), "none");
    EXPECT_EQ(en.FindIndexByScanCode(-1), 0);
}

TEST(KeyTable, FindScanCodeByNameMatchesPrefixInEntryOrder) {
    auto app = MakeApp("English");
    struct Case {
        std::optional<std::string_view> name;
        int scanCode;
    } cases[] = {
        {"F1", 68},  // "F10" is the first name beginning with "F1"
        {"N", 49},   // "N" comes before "NUM 0"
        {"NUM", 82}, {"NUM 9", 73}, {"", -1},  {std::nullopt, -1}, {"F12", 88}, {"<", 51},
        {">", 52},   {"q", -1},     {"Q", 16}, {"NUMBER", -1},     {"0", 11},
    };
    for (const Case& c : cases)
        EXPECT_EQ(app.FindScanCodeByName(c.name), c.scanCode) << (c.name ? *c.name : "<none>");
}

TEST(KeyTable, LookupsByScanCode) {
    auto app = MakeApp("English");
    EXPECT_EQ(app.FindIndexByScanCode(60), 1);
    EXPECT_EQ(app.FindIndexByScanCode(73), 59);
    EXPECT_EQ(app.FindIndexByScanCode(59), -1);  // the F1 key is not bindable
    EXPECT_EQ(app.FindNameByScanCode(50), "M");
    EXPECT_EQ(app.FindNameByScanCode(999), std::nullopt);
}

TEST(SettingsPath, StartDirectoryOrOption) {
    EXPECT_EQ(MakeApp("English", false, "/home/op/robot").configPath, "/home/op/robot/Zanth-Emulator.ini");
    EXPECT_EQ(MakeApp("English", false, "/").configPath, "/Zanth-Emulator.ini");
    EXPECT_EQ(MakeApp("English", false, "").configPath, "");
    StartupInfo info{"English", false, "/home/op", {}, "/etc/zanth.ini"};
    EXPECT_EQ(CPadoraApp(info).configPath, "/etc/zanth.ini");
}

TEST(Startup, UnknownLanguageRunsWithEmptyTableAndNoSettings) {
    auto app = MakeApp("");
    EXPECT_FALSE(app.localeOk());
    EXPECT_EQ(app.language, 0);
    EXPECT_EQ(app.keyNameCount(), 0);
    EXPECT_EQ(app.FindScanCodeByName("Q"), -1);
    EXPECT_EQ(app.FindNameByScanCode(-1), std::nullopt);
    EXPECT_EQ(app.configPath, "");
    EXPECT_EQ(app.batteryDisplay, 0);
    auto ok = MakeApp("English");
    EXPECT_EQ(ok.batteryDisplay, 1);
}

TEST(CommandLine, Options) {
    auto cl = ParseCommandLine({"--lang", "ja", "--config=/x/y.ini", "-platform", "offscreen"});
    EXPECT_EQ(cl.language, 1);
    EXPECT_EQ(cl.config, "/x/y.ini");
    EXPECT_TRUE(cl.error.empty());
    EXPECT_EQ(cl.unknown.size(), 2u);
    EXPECT_EQ(ParseCommandLine({"--lang=en"}).language, 0);
    EXPECT_FALSE(ParseCommandLine({"--lang", "fr"}).error.empty());
    EXPECT_FALSE(ParseCommandLine({"--config"}).error.empty());
    EXPECT_FALSE(ParseCommandLine({"--lang"}).error.empty());
}

TEST(CutUtf8, NeverSplitsACharacter) {
    struct Case {
        std::string in;
        std::size_t limit;
        std::string out;
    } cases[] = {
        {"abcdef", 3, "abc"}, {"abc", 3, "abc"},
        {"ab", 3, "ab"},      {"aあい", 3, "a"},  // "あ" is 3 bytes: 1 + 3 > 3
        {"aあい", 4, "aあ"},  {"あいう", 8, "あい"},
        {"", 0, ""},          {"x", 0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(CutUtf8(c.in, c.limit), c.out) << c.in << " " << c.limit;
}

}  // namespace
}  // namespace zanth
