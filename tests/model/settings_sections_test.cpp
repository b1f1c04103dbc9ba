// Sections STOP and MATCH of the settings file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "base/app_context.h"
#include "model/settings.h"

namespace zanth {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class SettingsSectionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "zanth-sections-XXXXXX").string();
        dir_ = ::mkdtemp(tmpl.data());
        path_ = (dir_ / "settings.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // One run: read at start, save at close with the stop and match settings given.
    Settings Run(const StopSettings& stop, const MatchPlan& match) {
        const Settings read = LoadSettings(path_);
        StartupInfo info;
        info.languageName = "English";
        ControllerModel model;
        BuildModel(model, AppContext(info), read);
        const SaveResult saved = SaveSettings(path_, model, read.port, {}, nullptr, &stop, &match);
        EXPECT_TRUE(saved.ok) << saved.error;
        return LoadSettings(path_);
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(SettingsSectionsTest, DefaultsLeaveTheFirstRunFileAsItWas) {
    Run(StopSettings{}, MatchPlan::Default());
    EXPECT_EQ(ReadFile(path_), ReadFile(fs::path(ZANTH_SOURCE_DIR) / "tests/model/data/first_run.ini"));
}

TEST_F(SettingsSectionsTest, ChangedSectionsReadBackTheSame) {
    const StopSettings stop{StopKeyByName("PAUSE"), true, true};
    const MatchPlan plan{"Final, round 2", {{"Wait, then go", 3, 4, false}, {"Go", 125, -1, true}}};
    const Settings first = Run(stop, plan);
    EXPECT_EQ(first.stop, stop);
    EXPECT_EQ(first.match, plan);
    const std::string written = ReadFile(path_);
    EXPECT_NE(written.find("KEY=PAUSE\n"), std::string::npos);
    EXPECT_NE(written.find("PHASE1=Wait, then go,3,4,0\n"), std::string::npos);
    Run(first.stop, first.match);
    EXPECT_EQ(ReadFile(path_), written);  // a run that changes nothing changes no byte
    // Back to the defaults: a section the file has is written, not left to say the old values.
    const Settings back = Run(StopSettings{}, MatchPlan::Default());
    EXPECT_EQ(back.stop, StopSettings{});
    EXPECT_EQ(back.match, MatchPlan::Default());
}

// The close save of a file changed meanwhile, handed the sections as they were read, keeps the outside edits.
TEST_F(SettingsSectionsTest, AnOutsideEditOfTheSectionsIsKept) {
    // Written otherwise than the program would: the program's own spelling is no change of this run's.
    std::ofstream(path_, std::ios::binary)
        << "[STOP]\nKEY=pause\n[MATCH]\nNAME=A\nPHASES=1\nPHASE1=P, 5,-1,1\n";
    const Settings read = LoadSettings(path_);
    StartupInfo info;
    info.languageName = "English";
    ControllerModel model;
    BuildModel(model, AppContext(info), read);
    RememberSettingsAsRead(path_, read, model);
    std::ofstream(path_, std::ios::binary) << "[STOP]\nKEY=F2\n[MATCH]\nNAME=B\nPHASES=1\nPHASE1=P,5,-1,1\n";
    ASSERT_TRUE(SaveSettings(path_, model, read.port, {}, nullptr, &read.stop, &read.match).ok);
    const Settings now = LoadSettings(path_);
    EXPECT_EQ(now.stop.key, StopKeyByName("F2"));
    EXPECT_EQ(now.match.name, "B");
}

TEST_F(SettingsSectionsTest, BadValuesGiveTheirDefaults) {
    const std::string longName(60, 'n');
    const struct {
        const char* what;
        std::string section;
        StopSettings stop;
        MatchPlan match;
    } cases[] = {
        {"stop key of another name",
         "[STOP]\nKEY=scroll lock\nSTARTDISABLED=1\n",
         {70, true, false},
         MatchPlan::Default()},
        {"bindable key", "[STOP]\nKEY=num 7\nPADCHORD=1\n", {71, false, true}, MatchPlan::Default()},
        {"unknown key, flags not 1",
         "[STOP]\nKEY=Escape\nSTARTDISABLED=2\nPADCHORD=yes\n",
         {},
         MatchPlan::Default()},
        {"no phase count", "[MATCH]\nNAME=X\nPHASE1=A,5,-1,1\n", {}, {"X", MatchPlan::Default().phases}},
        {"unreadable phases left out, values clamped",
         "[MATCH]\nNAME=\nPHASES=4\nPHASE1=A,x,-1,1\nPHASE2=B,5,-1,2\nPHASE3=C,0,99,0\nPHASE4=D,99999,,1\n",
         {},
         {"Practice", {{"C", 1, -1, false}, {"D", MatchPhase::kMaxSeconds, -1, true}}}},
        {"no phase left",
         "[MATCH]\nNAME=Y\nPHASES=1\nPHASE1=nothing\n",
         {},
         {"Y", MatchPlan::Default().phases}},
        {"names cut",
         "[MATCH]\nNAME=" + longName + "\nPHASES=1\nPHASE1=" + longName + ",5,-1,1\n",
         {},
         {longName.substr(0, MatchPlan::kNameLimit),
          {{longName.substr(0, MatchPhase::kNameLimit), 5, -1, true}}}},
    };
    for (const auto& c : cases) {
        std::ofstream(path_, std::ios::binary) << c.section;
        const Settings s = LoadSettings(path_);
        EXPECT_EQ(s.stop, c.stop) << c.what;
        EXPECT_EQ(s.match, c.match) << c.what;
    }
    std::string many = "[MATCH]\nPHASES=1000\n";
    for (int i = 1; i <= 20; ++i) many += "PHASE" + std::to_string(i) + "=P,5,-1,1\n";
    std::ofstream(path_, std::ios::binary) << many;
    EXPECT_EQ(LoadSettings(path_).match.phases.size(), MatchPlan::kMaxPhases);
}

}  // namespace
}  // namespace zanth
