#include "model/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/app_context.h"

namespace zanth {
namespace {

namespace fs = std::filesystem;

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "zanth-settings-XXXXXX").string();
        dir_ = ::mkdtemp(tmpl.data());
        StartupInfo info;
        info.languageName = "English";
        info.currentDirectory = dir_.string();
        app_ = std::make_unique<AppContext>(info);
        path_ = app_->configPath;
    }
    void TearDown() override { fs::remove_all(dir_); }

    void WriteText(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string ReadText() const {
        std::ifstream in(path_, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    ControllerModel Build() const {
        ControllerModel model;
        BuildModel(model, *app_, LoadSettings(path_));
        return model;
    }

    // One run of the program: read everything at start, let `change` play the user, save as on exit.
    ControllerModel Run(const std::function<void(ControllerModel&)>& change = {}) {
        const Settings settings = LoadSettings(path_);
        EXPECT_EQ(settings.readError, "");
        ControllerModel model;
        BuildModel(model, *app_, settings);
        if (change) change(model);
        const SaveResult saved = SaveSettings(path_, model, settings.port);
        EXPECT_TRUE(saved.ok) << saved.error;
        return model;
    }

    fs::path dir_;
    std::unique_ptr<AppContext> app_;
    std::string path_;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The file a first run has always written, byte for byte: users' files and scripts grew from it.
const fs::path kFirstRunFile = fs::path(ZANTH_SOURCE_DIR) / "tests/model/data/first_run.ini";

TEST_F(SettingsTest, FirstRunWritesTheFileItAlwaysHas) {
    Run();
    const std::string expected = ReadFile(kFirstRunFile);
    ASSERT_NE(expected, "");
    EXPECT_EQ(ReadText(), expected);
}

TEST_F(SettingsTest, AChangedBindingIsTheOnlyChangeToAFileOfTheUsers) {
    // A complete file as another editor would leave it: CRLF, its own order, foreign sections and keys,
    // a key name in other letter case and spacing.
    const std::string firstRun = ReadFile(kFirstRunFile);
    const std::size_t system = firstRun.find("[SYSTEM]\n");
    ASSERT_NE(system, std::string::npos);
    std::string input = "; kept as written\n" + firstRun.substr(system) + "BACK=2\n[Extra]\nfoo = bar\n" +
                        firstRun.substr(0, system) + "[PORTS]\nCOM3=/dev/ttyUSB0\n";
    input = ReplaceAll(input, "\nMODE=67\n", "\n mode = 67\n");
    input = ReplaceAll(input, "\n", "\r\n");
    WriteText(input);

    Run([](ControllerModel& m) { m.item(kItemL1).keyCode = 7; });
    EXPECT_EQ(ReadText(), ReplaceAll(input, "\r\nL1=16\r\n", "\r\nL1=7\r\n"));
}

// The file changed from outside while the program ran (zanth-ini, an editor): the close save keeps every
// outside change of a key this run left alone, and writes what this run changed.
TEST_F(SettingsTest, AFileChangedFromOutsideKeepsThoseChangesAtTheCloseSave) {
    struct Key {
        const char* section;
        const char* key;
        const char* value;  // nullptr: absent
    };
    const struct {
        const char* what;
        bool firstRun;  // the file was empty at start, else the first-run file
        Key outside;    // written (or, without a value, removed) while the program runs
        int runL1;      // the run's key for L1; 0: left alone
        std::vector<Key> expected;
    } cases[] = {
        {"another key",
         false,
         {"JOYSTICK", "LX", "3"},
         7,
         {{"JOYSTICK", "LX", "3"}, {"CONTROLLER", "L1", "7"}}},
        {"the same key", false, {"CONTROLLER", "L1", "9"}, 7, {{"CONTROLLER", "L1", "7"}}},
        {"a key only read", false, {"SYSTEM", "BACK", "1"}, 0, {{"SYSTEM", "BACK", "1"}}},
        {"a key removed", false, {"SYSTEM", "SLIDER", nullptr}, 0, {{"SYSTEM", "SLIDER", nullptr}}},
        {"a first run", true, {"JOYSTICK", "LX", "3"}, 0, {{"JOYSTICK", "LX", "3"}, {"SYSTEM", "PORT", "0"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteText(c.firstRun ? "" : ReadFile(kFirstRunFile));
        const Settings settings = LoadSettings(path_);
        ControllerModel model;
        BuildModel(model, *app_, settings);
        RememberSettingsAsRead(path_, settings, model);
        if (c.runL1) model.item(kItemL1).keyCode = c.runL1;

        IniFile outside = IniFile::Load(path_);
        if (c.outside.value) {
            outside.WriteString(c.outside.section, c.outside.key, c.outside.value);
        } else {
            const std::string text = outside.Serialize(), line = std::string(c.outside.key) + "=";
            const std::size_t at = text.find("\n" + line);
            ASSERT_NE(at, std::string::npos);
            outside = IniFile::Parse(text.substr(0, at + 1) + text.substr(text.find('\n', at + 1) + 1));
        }
        ASSERT_TRUE(outside.Save(path_).ok);

        ASSERT_TRUE(SaveSettings(path_, model, settings.port).ok);
        const IniFile saved = IniFile::Load(path_);
        for (const Key& k : c.expected) {
            EXPECT_EQ(saved.HasKey(k.section, k.key), k.value != nullptr) << k.key;
            if (k.value) {
                EXPECT_EQ(saved.GetString(k.section, k.key, "", 64), k.value) << k.key;
            }
        }
        // A save of a file nobody touched since is what it always was.
        const std::string once = ReadText();
        ASSERT_TRUE(SaveSettings(path_, model, settings.port).ok);
        EXPECT_EQ(ReadText(), once);
    }
}

TEST_F(SettingsTest, EverythingWrittenReadsBackTheSame) {
    const ControllerModel first = Run([](ControllerModel& m) {
        m.item(kItemL1).keyCode = 7;
        m.item(kItemStickLeft).padButton = -1;
        m.axisBindings[kAxisRY].axisIndex = -1;
        SoundEffect& e = m.soundEffects[12];
        e.file = "/home/u/効果音/up.wav";
        e.name = "上";
        e.enabled = 0;
        e.length = 2300;
        e.repeat = 3;
        e.repeatMode = 1;
        m.sliderResolution = 3;
        m.pad = {"03000000de2800000112000001000000", "パッド B", "usb1/1-2"};
        m.rumble = false;
    });
    const std::string afterFirst = ReadText();
    const ControllerModel second = Run();
    EXPECT_EQ(ReadText(), afterFirst);  // a run that changes nothing changes no byte
    for (int i = 0; i < kItemCount; ++i) {
        EXPECT_EQ(second.item(i).keyCode, first.item(i).keyCode) << i;
        EXPECT_EQ(second.item(i).padButton, first.item(i).padButton) << i;
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(second.axisBindings[i].axisIndex, first.axisBindings[i].axisIndex);
    for (int i = 0; i < kSoundEffectCount; ++i) {
        const SoundEffect& a = first.soundEffects[static_cast<std::size_t>(i)];
        const SoundEffect& b = second.soundEffects[static_cast<std::size_t>(i)];
        EXPECT_EQ(b.item, kSoundItems[static_cast<std::size_t>(i)]);
        EXPECT_EQ(std::tie(b.file, b.name, b.enabled, b.length, b.repeat, b.repeatMode),
                  std::tie(a.file, a.name, a.enabled, a.length, a.repeat, a.repeatMode))
            << i;
    }
    EXPECT_EQ(second.item(kItemL1).keyCode, 7);
    EXPECT_EQ(second.soundEffects[12].length, 2300);
    EXPECT_EQ(second.sliderResolution, 3);
    EXPECT_EQ(second.pad, first.pad);
    EXPECT_EQ(second.rumble, first.rumble);
}

// Once written, "any pad" and rumble on are written too: a stale choice must not come back at the next start.
TEST_F(SettingsTest, TheDefaultPadAndRumbleOverwriteAnEarlierChoice) {
    Run([](ControllerModel& m) {
        m.pad = {"03000000de2800000112000001000000", "Pad B", "usb1/1-2"};
        m.rumble = false;
    });
    Run([](ControllerModel& m) {
        m.pad = {};
        m.rumble = true;
    });
    const Settings s = LoadSettings(path_);
    EXPECT_EQ(s.pad, PadChoice{});
    EXPECT_TRUE(s.rumble);
}

TEST_F(SettingsTest, SoundLengthIsCutToTenthsTowardsZero) {
    const struct {
        const char* stored;
        int expected;
    } cases[] = {{"1250", 1200},
                 {"99", 0},
                 {"-150", -100},
                 {"-99", 0},
                 {"100", 100},
                 {"2147483647", 2147483600},
                 {"-2147483648", -2147483600},
                 {"12x", 0},
                 {nullptr, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "(absent)");
        const std::string line = c.stored ? "F1_LEN=" + std::string(c.stored) + "\n" : "";
        WriteText("[SOUND]\n" + line);
        const ControllerModel model = Build();
        EXPECT_EQ(model.soundEffects[4].length, c.expected);
        EXPECT_EQ(model.soundEffects[4].item, kItemF1);
    }
}

TEST_F(SettingsTest, SliderOutsideItsRangeIsCorrectedAndSavedBack) {
    const struct {
        const char* stored;
        int read;
    } cases[] = {{"9", 0}, {"5", 0}, {"-1", 0}, {"4", 4}, {"0", 0}, {"2", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        WriteText("[SYSTEM]\nSLIDER=" + std::string(c.stored) + "\n");
        EXPECT_EQ(Run().sliderResolution, c.read);
        EXPECT_EQ(IniFile::Load(path_).GetString("SYSTEM", "SLIDER", "", 16), std::to_string(c.read));
    }
    // The resolution indexes a table: the model never takes one out of range, whoever filled the settings.
    Settings settings;
    settings.sliderResolution = 5;
    ControllerModel model;
    BuildModel(model, *app_, settings);
    EXPECT_EQ(model.sliderResolution, 0);
}

TEST_F(SettingsTest, ValuesThatAreOnlyReadStayAsTheFileHasThem) {
    WriteText(
        "; hand-edited\r\n"
        "[SYSTEM]\r\n"
        "BACK=2\r\n"
        "PORT=3\r\n"
        "[CONTROLLER]\r\n"
        "LED=5\r\n"
        "bck = 9\r\n"
        "1=7\r\n"
        "[PORTS]\r\n"
        "COM4=/dev/ttyUSB0\r\n");
    const ControllerModel model = Run();
    EXPECT_EQ(model.ledItem().keyCode, 5);
    EXPECT_EQ(model.items[kItemBackground].keyCode, 9);
    EXPECT_EQ(model.item(kItem1).keyCode, 7);  // the PC key "6", though not the factory key

    const std::string text = ReadText();
    const Settings saved = LoadSettings(path_);
    EXPECT_EQ(saved.background, 0);
    EXPECT_EQ(saved.port, 3);
    // The file's own lines come first, unchanged and in their order; all lines end as the file's did.
    EXPECT_EQ(
        text.rfind(
            "; hand-edited\r\n[SYSTEM]\r\nBACK=2\r\nPORT=3\r\nSLIDER=0\r\n[CONTROLLER]\r\nLED=5\r\nbck = "
            "9\r\n1=7\r\n2=",
            0),
        0u);
    EXPECT_NE(text.find("[PORTS]\r\nCOM4=/dev/ttyUSB0\r\n"), std::string::npos);
    std::size_t lf = 0;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
        ASSERT_GT(at, 0u);
        if (text[at - 1] != '\r') ++lf;
    }
    EXPECT_EQ(lf, 0u);
    EXPECT_EQ(IniFile::Parse(text).HasKey("JOYSTICK", "LED"), false);
}

TEST_F(SettingsTest, BackgroundInputIsOnlyOnForOne) {
    const struct {
        const char* stored;
        int expected;
    } cases[] = {{"1", 1}, {"2", 0}, {"0", 0}, {"-1", 0}, {"1x", 1}, {"yes", 0}, {nullptr, 0}};
    for (const auto& c : cases) {
        const std::string text = c.stored ? "[SYSTEM]\nBACK=" + std::string(c.stored) + "\n" : "";
        EXPECT_EQ(ReadSettings(IniFile::Parse(text)).background, c.expected)
            << (c.stored ? c.stored : "absent");
    }
}

TEST_F(SettingsTest, PortsMapDevicesByUpperCasedName) {
    const Settings settings = ReadSettings(
        IniFile::Parse("[SYSTEM]\nCOM1=/dev/not-a-port\n"
                       "[ports]\ncom3 = /dev/ttyUSB0\nCOM3=/dev/second\nCOM4=\nCOM48=tcp://127.0.0.1:5000\n"
                       "[PORTS]\nCOM5=/dev/second-section\n"));
    const std::map<std::string, std::string> expected{{"COM3", "/dev/ttyUSB0"},
                                                      {"COM48", "tcp://127.0.0.1:5000"}};
    EXPECT_EQ(settings.ports, expected);
}

// "\x83\x41" reads as a CP932 character: a device path of such bytes that exists is used as it stands;
// one that does not is CP932 text like the rest of the file.
TEST_F(SettingsTest, APortPathThatExistsAsItsBytesIsNotReadAsCp932) {
    const std::string there = (dir_ / "\x83\x41").string(), absent = (dir_ / "\x83\x42").string();
    std::ofstream(there) << "";
    const Settings settings =
        ReadSettings(IniFile::Parse("[PORTS]\nCOM1=" + there + "\nCOM2=" + absent + "\n"));
    ASSERT_EQ(settings.encoding, TextEncoding::kCp932);
    EXPECT_EQ(settings.ports.at("COM1"), there);
    EXPECT_EQ(settings.ports.at("COM2"), Cp932ToUtf8(absent));
}

TEST_F(SettingsTest, SoundTextsKeepTheirBytesUpToTheirLimits) {
    const std::string percentPath = "/snd/100%%_%s_%d_%n.wav";
    const std::string name70(70, 'n');
    // One ASCII byte and 23 three-byte characters: 70 bytes whose 62-byte cut would split a character.
    std::string utf8Name70 = "a";
    for (int i = 0; i < 23; ++i) utf8Name70 += "あ";
    const std::string longPath = "/" + std::string(2999, 'p');
    WriteText("[SOUND]\n1_FILE=" + percentPath + "\n1_NAME=" + name70 + "\n2_NAME=" + utf8Name70 +
              "\n3_FILE=" + longPath + "\n");

    const ControllerModel model = Run();
    EXPECT_EQ(model.soundEffects[0].file, percentPath);
    EXPECT_EQ(model.soundEffects[0].name, std::string(62, 'n'));
    EXPECT_EQ(model.soundEffects[1].name, utf8Name70.substr(0, 61));
    EXPECT_EQ(model.soundEffects[2].file, longPath.substr(0, 2043));

    const std::string text = ReadText();
    EXPECT_NE(text.find("\n1_FILE=" + percentPath + "\n"), std::string::npos);
    EXPECT_NE(text.find("\n1_NAME=" + std::string(62, 'n') + "\n"), std::string::npos);
    EXPECT_NE(text.find("\n2_NAME=" + utf8Name70.substr(0, 61) + "\n"), std::string::npos);
    EXPECT_NE(text.find("\n3_FILE=" + longPath.substr(0, 2043) + "\n"), std::string::npos);
}

// A settings file as the Windows program writes it: CRLF, names and paths in CP932.
TEST_F(SettingsTest, AFileOfTheWindowsProgramStaysItsOwn) {
    const std::string horn = "\x83\x7A\x81\x5B\x83\x93";          // "ホーン"
    const std::string sonarWav = "\x83\x5C\x83\x69\x81\x5B.wav";  // "ソナー.wav": 5C is a trail byte
    const std::string nec = "\xED\x40";  // "纊" in NEC's block: CP932 writes it as FA 5C
    std::string on35;                    // 70 bytes of "音" (89 B9)
    for (int i = 0; i < 35; ++i) on35 += "\x89\xB9";
    WriteText("[SOUND]\r\n1_FILE=.\\Data\\" + sonarWav + "\r\n1_NAME=" + horn + "\r\n2_NAME=" + on35 +
              "\r\n3_NAME=" + horn + "\r\n4_NAME=" + nec + "\r\n[SYSTEM]\r\nPORT=2\r\n");

    std::string on31;
    for (int i = 0; i < 31; ++i) on31 += "音";
    const ControllerModel model = Run([&](ControllerModel& m) {
        EXPECT_EQ(m.textEncoding, TextEncoding::kCp932);
        EXPECT_EQ(m.soundEffects[0].file, ".\\Data\\ソナー.wav");
        EXPECT_EQ(m.soundEffects[0].name, "ホーン");
        EXPECT_EQ(m.soundEffects[1].name, on31);  // cut at 62 bytes of CP932, between two characters
        m.soundEffects[2].name = "汽笛";          // edited: written in CP932 too
    });

    const std::string text = ReadText();
    EXPECT_NE(text.find("\r\n1_FILE=.\\Data\\" + sonarWav + "\r\n1_NAME=" + horn + "\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\n2_NAME=" + on35.substr(0, 62) + "\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n3_NAME=\x8B\x44\x93\x4A\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n4_NAME=" + nec + "\r\n"), std::string::npos);
    EXPECT_EQ(text.find('\n' + std::string("[SOUND]")), std::string::npos);  // no LF-only line added
    EXPECT_EQ(DetectEncoding(text), TextEncoding::kCp932);
    // Read again, the cut name is what the first run read: nothing changes a second time.
    EXPECT_EQ(Run().soundEffects[1].name, on31);
    EXPECT_EQ(ReadText(), text);
}

// A name CP932 cannot hold turns the file into UTF-8 rather than losing a character; new files are UTF-8.
TEST_F(SettingsTest, ANameCp932CannotHoldMakesTheFileUtf8) {
    WriteText("[SOUND]\r\n1_NAME=\x83\x7A\x81\x5B\x83\x93\r\n");
    Run([](ControllerModel& m) { m.soundEffects[1].name = "café"; });
    const ControllerModel model = Build();
    EXPECT_EQ(model.textEncoding, TextEncoding::kUtf8);
    EXPECT_EQ(model.soundEffects[0].name, "ホーン");
    EXPECT_EQ(model.soundEffects[1].name, "café");
    EXPECT_NE(ReadText().find("\r\n1_NAME=ホーン\r\n"), std::string::npos);
}

TEST_F(SettingsTest, ASoundNameCannotRewriteOtherSettings) {
    WriteText("[SYSTEM]\nPORT=2\n");
    Run([](ControllerModel& m) { m.soundEffects[0].name = "x\n[SYSTEM]\nPORT=9"; });
    EXPECT_EQ(LoadSettings(path_).port, 2);
    EXPECT_EQ(Build().soundEffects[0].name, "x [SYSTEM] PORT=9");
}

TEST_F(SettingsTest, PortIsStoredAsGiven) {
    EXPECT_EQ(LoadSettings(path_).port, 0);
    EXPECT_EQ(LoadSettings("").port, 0);
    ASSERT_TRUE(SaveSettings(path_, Build(), 47).ok);
    EXPECT_EQ(LoadSettings(path_).port, 47);
}

TEST_F(SettingsTest, FirstSaveMakesTheFoldersPrivateToTheUser) {
    const fs::path folder = dir_ / ".config" / "zanth-emulator";
    ASSERT_TRUE(SaveSettings((folder / "Zanth-Emulator.ini").string(), Build(), 2).ok);
    EXPECT_EQ(LoadSettings((folder / "Zanth-Emulator.ini").string()).port, 2);
    for (const fs::path& f : {dir_ / ".config", folder})
        EXPECT_EQ(fs::status(f).permissions() & fs::perms::all, fs::perms::owner_all) << f;
}

TEST_F(SettingsTest, TheRememberedDeviceIsWrittenBesidePortOnceThereIsOne) {
    const std::string device = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    Run();
    const std::string firstRun = ReadText();
    EXPECT_EQ(firstRun.find("PORTDEVICE"), std::string::npos);
    ASSERT_TRUE(SaveSettings(path_, Build(), 2, device).ok);
    EXPECT_EQ(ReadText(), ReplaceAll(firstRun, "PORT=0\n", "PORT=2\nPORTDEVICE=" + device + "\n"));
    EXPECT_EQ(LoadSettings(path_).portDevice, device);
    // A run that remembered nothing new leaves it as it is.
    ASSERT_TRUE(SaveSettings(path_, Build(), 2).ok);
    EXPECT_EQ(LoadSettings(path_).portDevice, device);
    // Also one too long to open: a start and a close keep every byte of it.
    WriteText(
        ReplaceAll(firstRun, "PORT=0\n", "PORT=2\nPORTDEVICE=" + device + std::string(5000, 'x') + "\n"));
    const std::string stored = ReadText();
    const Settings settings = LoadSettings(path_);
    ASSERT_TRUE(SaveSettings(path_, Build(), settings.port, settings.portDevice).ok);
    EXPECT_EQ(ReadText(), stored);
}

TEST_F(SettingsTest, AFileThatCannotBeReadIsNeverReplaced) {
    const ControllerModel model = Build();

    const SaveResult noPath = SaveSettings("", model, 0);
    EXPECT_FALSE(noPath.ok);
    EXPECT_NE(noPath.error, "");

    std::ofstream(dir_ / "plain") << "";
    const SaveResult noDir = SaveSettings((dir_ / "plain" / "sub" / "Zanth-Emulator.ini").string(), model, 0);
    EXPECT_FALSE(noDir.ok);
    EXPECT_NE(noDir.error, "");

    // A file too large to read must not be replaced by one holding only our keys; reading it gives the
    // defaults and says why, rather than half a file.
    {
        std::ofstream out(path_, std::ios::binary);
        out << "[SYSTEM]\nPORT=3\nSLIDER=2\n" << std::string(10 * 1024 * 1024, ';');
    }
    const auto size = fs::file_size(path_);
    const Settings read = LoadSettings(path_);
    EXPECT_NE(read.readError, "");
    EXPECT_EQ(read.port, 0);
    EXPECT_EQ(read.sliderResolution, 0);
    const SaveResult big = SaveSettings(path_, model, 1);
    EXPECT_FALSE(big.ok);
    EXPECT_NE(big.error.find("left unchanged"), std::string::npos) << big.error;
    EXPECT_EQ(fs::file_size(path_), size);
    EXPECT_EQ(ReadText().substr(0, 16), "[SYSTEM]\nPORT=3\n");

    // A directory where the file should be.
    fs::remove(path_);
    fs::create_directory(path_);
    EXPECT_NE(LoadSettings(path_).readError, "");
    EXPECT_FALSE(SaveSettings(path_, model, 1).ok);
    EXPECT_TRUE(fs::is_directory(path_));

    // A link to nothing: named as such, and no file is made behind it.
    fs::remove(path_);
    fs::create_symlink(dir_ / "gone.ini", path_);
    EXPECT_NE(LoadSettings(path_).readError.find("gone.ini"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir_ / "gone.ini"));
}

}  // namespace
}  // namespace zanth
