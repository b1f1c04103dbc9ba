// Mapping rows: filling from and applying to the model, mapping files, the dialog's row rules, the data view.
#include "input/mapping.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/app_context.h"
#include "input/gamepad_reader.h"
#include "model/controller_model.h"
#include "model/settings.h"

namespace zanth {
namespace {

namespace fs = std::filesystem;

class MappingTest : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("zanth_mapping_" + std::to_string(::getpid()) + "_" +
                                            testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        BuildModel(model_, app_, Settings{});
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }
    static std::string Read(const std::string& path) {
        std::ostringstream s;
        s << std::ifstream(path).rdbuf();
        return s.str();
    }

    fs::path dir_;
    AppContext app_{StartupInfo{"English", false, "/nonexistent", {}, {}}};
    GamepadReader names_{Language::kEnglish};
    ControllerModel model_;
};

TEST_F(MappingTest, RowsListStickDirectionsBeforePadAndApplyBackByPosition) {
    const auto rows = FillMappingRows(model_);
    ASSERT_EQ(rows.size(), std::size_t(kMappingRows));
    const std::pair<int, MappingEntry> cases[] = {
        {6, {kMapButton, 67, -999, 0, "MODE"}},
        {15, {kMapStickDirection, 17, 1, 0, "LEFT STICK UP"}},
        {22, {kMapPadDirection, 34, -1, 0, "PAD LEFT"}},
        {26, {kMapAxis, 0, 0, 5, "RIGHT STICK Y-Axis"}},
    };
    for (const auto& [row, want] : cases) EXPECT_EQ(rows[std::size_t(row)], want) << row;

    // Rows of any type, as a file may give them: codes go back by position; direction items keep their
    // gamepad buttons, items their names.
    std::vector<MappingEntry> edited(kMappingRows);
    for (int r = 0; r < kMappingRows; ++r) edited[std::size_t(r)] = {-1, 100 + r, 200 + r, 300 + r, "name"};
    ApplyMappingRows(edited, model_);
    EXPECT_EQ(model_.item(kItemMode).keyCode, 106);
    EXPECT_EQ(model_.item(kItemMode).padButton, 206);
    EXPECT_EQ(model_.item(kItemStickUp).keyCode, 115);
    EXPECT_EQ(model_.item(kItemPadUp).keyCode, 119);
    EXPECT_EQ(model_.item(kItemStickUp).padButton, 1);
    EXPECT_EQ(model_.item(kItemPadUp).displayName, "PAD UP");
    EXPECT_EQ(model_.axisBindings[kAxisRY].axisIndex, 326);

    // And unchanged rows leave every binding as it was.
    ApplyMappingRows(rows, model_);
    ControllerModel fresh;
    BuildModel(fresh, app_, Settings{});
    for (int i = 0; i < kInputItemCount; ++i) {
        EXPECT_EQ(model_.item(i).keyCode, fresh.item(i).keyCode) << i;
        EXPECT_EQ(model_.item(i).padButton, fresh.item(i).padButton) << i;
    }
    for (int a = 0; a < 4; ++a) EXPECT_EQ(model_.axisBindings[a].axisIndex, fresh.axisBindings[a].axisIndex);
}

TEST_F(MappingTest, NewFileListsFiveSectionsInOrderAndLoadsBackUnchanged) {
    const auto rows = FillMappingRows(model_);
    const std::string path = Path("new.kjd");
    ASSERT_TRUE(SaveMappingFile(path, rows).ok);

    std::string expected;
    for (int s = 0; s < 5; ++s) {
        expected +=
            std::string("[") + std::array{"AXIS", "BTN", "KEY", "TYPE", "NAME"}[std::size_t(s)] + "]\n";
        for (int i = 0; i < kMappingRows; ++i) {
            const MappingEntry& e = rows[std::size_t(i)];
            const int numbers[] = {e.axis, e.padButton, e.keyCode, e.type};
            expected += std::to_string(i) + "=" + (s < 4 ? std::to_string(numbers[s]) : e.name) + "\n";
        }
    }
    const std::string text = Read(path);
    EXPECT_EQ(text, expected);
    EXPECT_NE(text.find("[BTN]\n0=2\n1=0\n2=1\n3=3\n4=-1\n5=-1\n6=-999\n"), std::string::npos);

    std::vector<MappingEntry> loaded;
    ASSERT_TRUE(LoadMappingFile(path, loaded).ok());
    EXPECT_EQ(loaded, rows);
}

TEST_F(MappingTest, SaveReplacesInPlaceAndKeepsOtherContent) {
    const std::string path = Path("old.kjd");
    std::ofstream(path) << "; mine\r\n[OTHER]\r\nx=1\r\n[KEY]\r\n3=99\r\nextra=7\r\n";
    ASSERT_TRUE(SaveMappingFile(path, FillMappingRows(model_)).ok);
    const std::string text = Read(path);
    // The existing key keeps its place; missing keys follow the section's last key.
    EXPECT_EQ(text.rfind("; mine\r\n[OTHER]\r\nx=1\r\n[KEY]\r\n3=37\r\nextra=7\r\n0=23\r\n1=24\r\n", 0), 0u)
        << text;
}

TEST_F(MappingTest, LoadFillsMissingKeysKeepsMissingSectionsAndCutsLongNames) {
    const std::string path = Path("short.kjd");
    // Row 1's name: 22 ASCII bytes and a 3-byte character, cut before the character. [KEY] holds no row's
    // key, [BTN] is not there: both fields keep what the rows held.
    std::ofstream(path)
        << "[TYPE]\n0=2\n[AXIS]\n0=4\n[NAME]\n0=Mine\n1=abcdefghijklmnopqrstuvあ\n[KEY]\n30=5\n";
    const std::vector<MappingEntry> before = FillMappingRows(model_);
    std::vector<MappingEntry> rows = before;
    const MappingLoad loaded = LoadMappingFile(path, rows);
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.keptSections, (std::vector<std::string>{"BTN", "KEY"}));
    ASSERT_EQ(rows.size(), std::size_t(kMappingRows));
    EXPECT_EQ(rows[0], (MappingEntry{kMapAxis, before[0].keyCode, before[0].padButton, 4, "Mine"}));
    EXPECT_EQ(rows[1],
              (MappingEntry{-1, before[1].keyCode, before[1].padButton, -1, "abcdefghijklmnopqrstuv"}));
    EXPECT_EQ(rows[26], (MappingEntry{-1, before[26].keyCode, before[26].padButton, -1, "name"}));

    std::vector<MappingEntry> none;  // rows the caller did not have get the defaults
    ASSERT_TRUE(LoadMappingFile(path, none).ok());
    EXPECT_EQ(none[26], (MappingEntry{-1, -1, -1, -1, "name"}));
}

// A mapping file as the Windows program writes it: CRLF, the names in CP932. Loaded, its names read right;
// saved back unchanged, it keeps every byte; a new file is UTF-8.
TEST_F(MappingTest, AFileOfTheWindowsProgramKeepsItsEncoding) {
    const std::string horn = "\x83\x7A\x81\x5B\x83\x93";  // "ホーン"
    std::string on12;                                     // 24 bytes of "音" (89 B9): one over the limit
    for (int i = 0; i < 12; ++i) on12 += "\x89\xB9";
    std::string bytes;
    for (const char* section : {"AXIS", "BTN", "KEY", "TYPE", "NAME"}) {
        bytes += std::string("[") + section + "]\r\n";
        for (int i = 0; i < kMappingRows; ++i) {
            const std::string name = i == 1 ? on12 : horn + std::to_string(i);
            bytes += std::to_string(i) + "=" + (section == std::string("NAME") ? name : "0") + "\r\n";
        }
    }
    const std::string path = Path("windows.kjd");
    std::ofstream(path, std::ios::binary) << bytes;

    std::vector<MappingEntry> rows;
    ASSERT_TRUE(LoadMappingFile(path, rows).ok());
    EXPECT_EQ(rows[0].name, "ホーン0");
    std::string on11;
    for (int i = 0; i < 11; ++i) on11 += "音";
    EXPECT_EQ(rows[1].name, on11);  // cut at 23 bytes of CP932, between two characters

    rows[1].name = "ホーン1";  // as if edited: the rest stays byte for byte
    ASSERT_TRUE(SaveMappingFile(path, rows).ok);
    std::string expected = bytes;
    expected.replace(expected.find("1=" + on12), 2 + on12.size(), "1=" + horn + "1");
    EXPECT_EQ(Read(path), expected);

    const std::string fresh = Path("fresh.kjd");
    ASSERT_TRUE(SaveMappingFile(fresh, rows).ok);
    EXPECT_NE(Read(fresh).find("\n0=ホーン0\n"), std::string::npos);
}

TEST_F(MappingTest, FileFailuresAreReportedAndDestroyNothing) {
    fs::create_directories(Path("folder.kjd"));
    const auto rows = FillMappingRows(model_);
    for (const char* name : {"folder.kjd", "missing/x.kjd"}) {
        const SaveResult saved = SaveMappingFile(Path(name), rows);
        EXPECT_FALSE(saved.ok) << name;
        EXPECT_FALSE(saved.error.empty()) << name;
    }
    EXPECT_TRUE(fs::is_directory(Path("folder.kjd")));

    // Files that are no mapping file: plain text renamed, an INI file of other sections, sections with
    // no row's key, nothing at all, binary bytes.
    std::ofstream(Path("notes.kjd")) << "Shopping list\nmilk\n0=1\n";
    std::ofstream(Path("other.kjd")) << "[SYSTEM]\nPORT=3\n[SOUND]\n1_FILE=a.wav\n";
    std::ofstream(Path("rowless.kjd")) << "[KEY]\nx=1\n[NAME]\n27=far\n";
    std::ofstream(Path("empty.kjd"));
    std::ofstream(Path("binary.kjd"), std::ios::binary) << std::string("\x89PNG\r\n\x1a\n\0\0[\xff]", 14);
    const std::pair<const char*, MappingLoad::Outcome> refused[] = {
        {"gone.kjd", MappingLoad::kUnreadable},    {"folder.kjd", MappingLoad::kUnreadable},
        {"notes.kjd", MappingLoad::kNotMapping},   {"other.kjd", MappingLoad::kNotMapping},
        {"rowless.kjd", MappingLoad::kNotMapping}, {"empty.kjd", MappingLoad::kNotMapping},
        {"binary.kjd", MappingLoad::kNotMapping},
    };
    for (const auto& [name, outcome] : refused) {
        std::vector<MappingEntry> loaded = rows;
        const MappingLoad result = LoadMappingFile(Path(name), loaded);
        EXPECT_EQ(result.outcome, outcome) << name;
        EXPECT_EQ(result.error.empty(), outcome != MappingLoad::kUnreadable) << name;
        EXPECT_EQ(loaded, rows) << name;
    }
}

TEST(DataView, LabelsAndFormatsInRecordOrderWithButtonsLast) {
    const auto en = DataViewLabels(Language::kEnglish);
    const auto ja = DataViewLabels(Language::kJapanese);
    EXPECT_EQ(en[19], "V Slider -2");
    EXPECT_EQ(en[163], "Button-128");
    EXPECT_EQ(ja[11], "パッド -4");
    EXPECT_EQ(ja[18], "Vスライダー -1");

    GamepadState s = GamepadState::Neutral();
    s.axes[1] = 65535;
    s.pov[0] = 4500;
    s.velocity[0] = -1;
    s.acceleration[7] = 0x1234;
    s.buttons[0] = 128;
    const auto v = DataViewValues(s);
    const std::pair<int, const char*> values[] = {{0, "0x00008000"},  {1, "0x0000ffff"},  {8, "4500"},
                                                  {9, "-1"},          {12, "0xffffffff"}, {27, "0x00001234"},
                                                  {28, "0x00000000"}, {36, "128"},        {37, "0"}};
    for (auto [i, text] : values) EXPECT_EQ(v[std::size_t(i)], text) << i;
}

TEST(FileFilter, BarSeparatedListBecomesQtFilters) {
    EXPECT_EQ(ToQtFileFilter("操作設定 ファイル (*.kjd)|*.kjd|全てのファイル (*.*)|*.*||"),
              "操作設定 ファイル (*.kjd);;全てのファイル (*)");
    EXPECT_EQ(ToQtFileFilter("Sounds|*.wav;*.WAV||"), "Sounds (*.wav *.WAV)");
}

}  // namespace
}  // namespace zanth
