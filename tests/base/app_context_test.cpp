#include "base/app_context.h"

#include <gtest/gtest.h>

#include "base/text.h"

namespace zanth {
namespace {

AppContext MakeApp(std::string language, bool shift = false, std::string dir = "/home/op") {
    StartupInfo info;
    info.languageName = std::move(language);
    info.leftShiftDown = shift;
    info.currentDirectory = std::move(dir);
    return AppContext(info);
}

TEST(Language, ChosenBySystemLanguageShiftAndOption) {
    using enum Language;
    struct Case {
        const char* system;
        bool shift;
        std::optional<Language> option;
        Language expected;
    } cases[] = {
        {"Japanese", false, {}, kJapanese},         {"Japanese", true, {}, kEnglish},
        {"English", false, {}, kEnglish},           {"English", true, {}, kEnglish},
        {"Japanese (Japan)", false, {}, kJapanese}, {"Japan", false, {}, kEnglish},
        {"English", false, kJapanese, kJapanese},   {"Japanese", false, kEnglish, kEnglish},
        {"Japanese", true, kJapanese, kJapanese},
    };
    for (const Case& c : cases) {
        StartupInfo info{c.system, c.shift, "/tmp", c.option, {}};
        EXPECT_EQ(AppContext(info).language, c.expected) << c.system << " shift=" << c.shift;
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

TEST(SettingsPath, StartDirectoryOrOptionWithoutAHome) {
    EXPECT_EQ(MakeApp("English", false, "/home/op/robot").configPath, "/home/op/robot/Zanth-Emulator.ini");
    EXPECT_EQ(MakeApp("English", false, "/").configPath, "/Zanth-Emulator.ini");
    EXPECT_EQ(MakeApp("English", false, "").configPath, "");
    StartupInfo info{"English", false, "/home/op", {}, "/etc/zanth.ini"};
    EXPECT_EQ(AppContext(info).configPath, "/etc/zanth.ini");
}

TEST(SettingsPath, HomeAndFileCheckReachTheRules) {
    StartupInfo info{"English", false, "/", {}, {}};
    info.home = "/home/op";
    info.isFile = [](const std::string&) { return false; };
    const AppContext app(info);
    EXPECT_EQ(app.configPath, "/home/op/.config/zanth-emulator/Zanth-Emulator.ini");
    EXPECT_EQ(app.dataFolder, "/home/op/.local/share/zanth-emulator/Data");
    EXPECT_FALSE(app.portableSettings);
}

// Windows on different settings files can be told apart; the default file adds nothing to the title.
TEST(SettingsPath, TitleNamesAnyFileButTheDefault) {
    const std::string program = UiText(Msg::kWindowTitle, Language::kEnglish);
    const std::string home = "/home/op/.config/zanth-emulator/Zanth-Emulator.ini";
    const struct {
        std::optional<std::string> config;
        std::string name;  // what the title shows before the program's own name
    } cases[] = {
        {std::nullopt, ""},
        {home, ""},
        {"/home/op/robot-b.ini", "robot-b.ini"},
        {"/media/usb/Zanth-Emulator.ini", "/media/usb/Zanth-Emulator.ini"},
    };
    for (const auto& c : cases) {
        StartupInfo info{"English", false, "/", {}, c.config};
        info.home = "/home/op";
        info.isFile = [](const std::string&) { return false; };
        const std::string title = AppContext(info).WindowTitle();
        EXPECT_EQ(title, c.name.empty() ? program : c.name + " \u2014 " + program) << c.config.value_or("-");
    }
}

TEST(Startup, UnknownLanguageRunsWithEmptyTableAndNoSettings) {
    auto app = MakeApp("");
    EXPECT_FALSE(app.localeOk());
    EXPECT_EQ(app.language, Language::kEnglish);
    EXPECT_EQ(app.keyNameCount(), 0);
    EXPECT_EQ(app.FindScanCodeByName("Q"), -1);
    EXPECT_EQ(app.FindNameByScanCode(-1), std::nullopt);
    EXPECT_EQ(app.configPath, "");
    EXPECT_EQ(app.batteryDisplay, 0);
    auto ok = MakeApp("English");
    EXPECT_EQ(ok.batteryDisplay, 1);
}

TEST(CommandLine, Options) {
    auto cl = ParseCommandLine({"--lang", "ja", "--config=/x/y.ini", "-platform", "offscreen", "--reverse"});
    EXPECT_EQ(cl.language, Language::kJapanese);
    EXPECT_EQ(cl.config, "/x/y.ini");
    EXPECT_EQ(cl.fault, CommandLine::Fault::kNone);
    EXPECT_EQ(ParseCommandLine({"--lang=en"}).language, Language::kEnglish);
    EXPECT_TRUE(ParseCommandLine({"-h"}).help);
    EXPECT_TRUE(ParseCommandLine({"--lang", "en", "--version"}).version);
    EXPECT_TRUE(ParseCommandLine({"--choose-config"}).chooseConfig);
}

TEST(CommandLine, RefusedArgumentsNameTheFirstFault) {
    using F = CommandLine::Fault;
    struct Case {
        std::vector<std::string> args;
        F fault;
        const char* arg;
    } cases[] = {
        {{"--bogus", "--lang", "fr"}, F::kUnknownOption, "--bogus"},
        {{"-x"}, F::kUnknownOption, "-x"},
        {{"--help=yes"}, F::kUnknownOption, "--help=yes"},
        {{"--choose-config=a.ini"}, F::kUnknownOption, "--choose-config=a.ini"},
        {{"file.ini"}, F::kUnexpectedArgument, "file.ini"},
        {{"--lang", "fr"}, F::kBadLanguage, "fr"},
        {{"--lang"}, F::kMissingValue, "--lang"},
        {{"--config"}, F::kMissingValue, "--config"},
        {{"--config="}, F::kMissingValue, "--config"},
        {{"-platform"}, F::kMissingValue, "-platform"},
        // the value of an option is never taken for an option of its own
        {{"--config", "--help", "stray"}, F::kUnexpectedArgument, "stray"},
    };
    for (const Case& c : cases) {
        const CommandLine cl = ParseCommandLine(c.args);
        EXPECT_EQ(cl.fault, c.fault) << c.args.front();
        EXPECT_EQ(cl.faultArg, c.arg) << c.args.front();
    }
}

TEST(CommandLine, FaultTextNamesTheArgumentAndPointsToHelp) {
    const CommandLine cl = ParseCommandLine({"--bogus"});
    for (Language language : {Language::kEnglish, Language::kJapanese}) {
        const std::string text = CommandLineFaultText(cl, language);
        EXPECT_NE(text.find("--bogus"), std::string::npos) << text;
        EXPECT_NE(text.find("zanth-emulator --help"), std::string::npos) << text;
    }
    EXPECT_EQ(CommandLineFaultText(ParseCommandLine({}), Language::kEnglish), "");
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
