#include "base/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace zanth {
namespace {

namespace fs = std::filesystem;

FileCheck FilesAre(std::set<std::string> files) {
    return [files = std::move(files)](const std::string& path) { return files.count(path) > 0; };
}

TEST(Locations, StartFolderThenXdgThenStartFolderAgain) {
    const std::string inStart = "/work/robot/Zanth-Emulator.ini";
    struct Case {
        const char* what;
        PathEnv env;
        std::optional<std::string> config;
        std::set<std::string> files;
        const char* settings;
        const char* data;
        std::set<std::string> links = {};
    } cases[] = {
        {"portable folder",
         {"/work/robot", "/home/op", "", ""},
         {},
         {inStart},
         "/work/robot/Zanth-Emulator.ini",
         "/work/robot/Data"},
        {"no file in the start folder",
         {"/work/robot", "/home/op", "", ""},
         {},
         {},
         "/home/op/.config/zanth-emulator/Zanth-Emulator.ini",
         "/home/op/.local/share/zanth-emulator/Data"},
        {"unwritable start folder without a file (/)",
         {"/", "/home/op", "", ""},
         {},
         {},
         "/home/op/.config/zanth-emulator/Zanth-Emulator.ini",
         "/home/op/.local/share/zanth-emulator/Data"},
        {"XDG homes set",
         {"/", "/home/op", "/cfg/", "/dat"},
         {},
         {},
         "/cfg/zanth-emulator/Zanth-Emulator.ini",
         "/dat/zanth-emulator/Data"},
        {"relative XDG homes are ignored",
         {"/", "/home/op", "cfg", "dat"},
         {},
         {},
         "/home/op/.config/zanth-emulator/Zanth-Emulator.ini",
         "/home/op/.local/share/zanth-emulator/Data"},
        {"--config wins over a portable file",
         {"/work/robot", "/home/op", "", ""},
         "/etc/z/my.ini",
         {inStart},
         "/etc/z/my.ini",
         "/etc/z/Data"},
        {"no home at all",
         {"/work/robot", "", "", ""},
         {},
         {},
         "/work/robot/Zanth-Emulator.ini",
         "/work/robot/Data"},
        {"no home, no start folder", {"", "", "", ""}, {}, {}, "", "Data"},
        {"a link in the start folder, even one to nothing",
         {"/work/robot", "/home/op", "", ""},
         {},
         {},
         "/work/robot/Zanth-Emulator.ini",
         "/work/robot/Data",
         {inStart}},
    };
    for (const Case& c : cases) {
        const Locations where = ResolveLocations(c.env, c.config, FilesAre(c.files), FilesAre(c.links));
        EXPECT_EQ(where.settingsFile, c.settings) << c.what;
        EXPECT_EQ(where.dataFolder, c.data) << c.what;
    }
}

TEST(Manual, BesideTheSettingsThenInstalled) {
    const std::string en = "Zanth-Emulator_10_ENG.pdf";
    const std::string ja = "Zanthエミュレータ取扱説明書.pdf";
    const std::string cfg = "/home/op/.config/zanth-emulator";
    const std::string doc = "/usr/share/doc/zanth-emulator";
    using enum Language;
    struct Case {
        std::set<std::string> files;
        Language language;
        std::string expected;
    } cases[] = {
        {{cfg + "/" + en, doc + "/" + en}, kEnglish, cfg + "/" + en},
        {{doc + "/" + en, doc + "/" + ja}, kJapanese, doc + "/" + ja},
        {{cfg + "/" + en}, kJapanese, ""},  // never the other language's
        {{}, kEnglish, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(FindManual(cfg, c.language, doc, FilesAre(c.files)), c.expected);
    EXPECT_EQ(FindManual("", kEnglish, doc, FilesAre({doc + "/" + en})), doc + "/" + en);
}

class Folders : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/zanth-paths-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        root_ = name;
    }
    void TearDown() override { fs::remove_all(root_); }
    fs::path root_;
};

TEST_F(Folders, MadeWithTheirParentsPrivateToTheUser) {
    const fs::path leaf = root_ / "home/.config/zanth-emulator";
    ASSERT_EQ(MakeFolders(leaf.string()), "");
    for (const fs::path& p : {root_ / "home", root_ / "home/.config", leaf}) {
        struct stat st {};
        ASSERT_EQ(::stat(p.c_str(), &st), 0) << p;
        EXPECT_TRUE(S_ISDIR(st.st_mode)) << p;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << p;
        EXPECT_EQ(st.st_uid, ::getuid()) << p;
    }
    EXPECT_EQ(MakeFolders(leaf.string() + "/"), "");  // already there
}

TEST_F(Folders, AFileInTheWayIsReported) {
    std::ofstream(root_ / "plain") << "x";
    const std::string error = MakeFolders((root_ / "plain/sub").string());
    EXPECT_NE(error.find("plain"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(root_ / "plain/sub"));
    // XDG_CONFIG_HOME naming that file: told at start as the save would tell it at close.
    const PathEnv env{root_.string(), "/home/op", (root_ / "plain").string(), ""};
    const std::string settings = ResolveLocations(env, std::nullopt).settingsFile;
    EXPECT_EQ(WhySettingsCannotBeSaved(settings), MakeFolders(FolderOf(settings)));
    EXPECT_NE(WhySettingsCannotBeSaved(settings), "");
    EXPECT_EQ(WhySettingsCannotBeSaved((root_ / "new/sub/Zanth-Emulator.ini").string()), "");
}

// A read-only file or folder is told at start, before the session's settings depend on it. The tests run as
// root, whom access() never refuses, so the refusal is played by the check given.
TEST_F(Folders, AFileOrFolderTheUserCannotWriteIsToldAtStart) {
    const std::string elsewhere = (root_ / "elsewhere").string(), file = elsewhere + "/robot.ini";
    fs::create_directory(elsewhere);
    std::ofstream(file) << "";
    const std::string link = (root_ / "Zanth-Emulator.ini").string();
    fs::create_symlink(file, link);
    const std::string refused = std::string(": ") + std::strerror(EACCES);
    const struct {
        std::string denied;  // the one path the user may not write
        std::string told;
    } cases[] = {
        {"", ""},
        {file, file + refused},
        {elsewhere, elsewhere + refused},  // where the link points, not where the link is
        {root_.string(), ""},
    };
    for (const auto& c : cases) {
        const AccessCheck access = [&](const std::string& path, int mode) {
            return path == c.denied && (mode & W_OK) ? EACCES : 0;
        };
        EXPECT_EQ(WhySettingsCannotBeSaved(link, access), c.told) << c.denied;
    }
}

TEST_F(Folders, RealFileCheckSeesOnlyRegularFiles) {
    std::ofstream(root_ / "Zanth-Emulator.ini") << "";
    fs::create_directory(root_ / "dir");
    EXPECT_TRUE(IsRegularFile((root_ / "Zanth-Emulator.ini").string()));
    EXPECT_FALSE(IsRegularFile((root_ / "dir").string()));
    EXPECT_FALSE(IsRegularFile((root_ / "missing").string()));
    const PathEnv env{root_.string(), "/home/op", "", ""};
    EXPECT_TRUE(ResolveLocations(env, std::nullopt).portable);
    // A settings link to nothing keeps the folder portable: it is the file, though it cannot be read.
    fs::remove(root_ / "Zanth-Emulator.ini");
    fs::create_symlink(root_ / "gone.ini", root_ / "Zanth-Emulator.ini");
    EXPECT_TRUE(IsSymbolicLink((root_ / "Zanth-Emulator.ini").string()));
    EXPECT_TRUE(ResolveLocations(env, std::nullopt).portable);
}

// Sound paths of a settings file the Windows program wrote are found where they can be on this machine.
TEST(StoredPath, WindowsPathsResolveToTheDataFolderOrBesideTheSettings) {
    const std::string ini = "/home/op/robot", data = "/home/op/robot/Data";
    const FileCheck files = FilesAre({"/home/op/robot/Data/horn.wav", "/home/op/robot/Data/sub/bell.wav",
                                      "/usr/share/sounds/chime.wav", "/home/op/robot/Data/chime.wav"});
    struct Case {
        const char* stored;
        const char* resolved;
    } cases[] = {
        {".\\Data\\horn.wav", "/home/op/robot/Data/horn.wav"},
        {"data\\sub\\bell.wav", "/home/op/robot/Data/sub/bell.wav"},
        {".\\.\\Data\\ソナー.wav", "/home/op/robot/Data/ソナー.wav"},  // missing: where it should be
        {"Sounds\\x.wav", "/home/op/robot/Sounds/x.wav"},
        {"Sounds\\horn.wav", "/home/op/robot/Data/horn.wav"},  // not beside the settings, but in Data
        {"C:\\Sounds\\horn.wav", "/home/op/robot/Data/horn.wav"},
        {"c:horn.wav", "/home/op/robot/Data/horn.wav"},
        {"\\\\server\\share\\horn.wav", "/home/op/robot/Data/horn.wav"},
        {"C:\\Sounds\\gone.wav", "C:\\Sounds\\gone.wav"},  // nothing to find: as it was
        // A portable folder copied elsewhere: a path that names no file any more is looked for in Data.
        {"/home/op/run1/Data/horn.wav", "/home/op/robot/Data/horn.wav"},
        {"/usr/share/sounds/horn.wav", "/home/op/robot/Data/horn.wav"},
        {"relative/horn.wav", "/home/op/robot/Data/horn.wav"},
        {"/usr/share/sounds/ping.wav", "/usr/share/sounds/ping.wav"},    // in neither place: as it was
        {"/usr/share/sounds/chime.wav", "/usr/share/sounds/chime.wav"},  // there: used where it is
        {"/home/op/run1/Data/", "/home/op/run1/Data/"},
        {"relative/ping.wav", "relative/ping.wav"},
        {"", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolveStoredPath(c.stored, ini, data, files), c.resolved) << c.stored;
}

}  // namespace
}  // namespace zanth
