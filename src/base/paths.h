#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/ui_text.h"

namespace zanth {

// Where the settings file, the Data folder and the manuals are. The rules are plain functions over the
// values gathered at start-up, and the file checks are injectable, so they are tested without the real home.

inline constexpr const char* kAppFolderName = "zanth-emulator";  // below the XDG config and data homes
inline constexpr const char* kDataFolderName = "Data";

// What the rules look at. Paths are absolute or empty (= unknown).
struct PathEnv {
    std::string startDir;       // the current directory at start-up
    std::string home;           // $HOME, else the password database's home
    std::string xdgConfigHome;  // $XDG_CONFIG_HOME as set; ignored unless absolute
    std::string xdgDataHome;    // $XDG_DATA_HOME as set; ignored unless absolute
};

// Answers whether a regular file (or a link to one) exists at the path.
using FileCheck = std::function<bool(const std::string& path)>;
bool IsRegularFile(const std::string& path);
// Whether the path is a symbolic link, whatever it points to (nothing, too).
bool IsSymbolicLink(const std::string& path);

struct Locations {
    std::string settingsFile;  // empty when there is nowhere to put it
    std::string dataFolder;    // sound files and mapping files
    bool portable = false;     // the settings lie in the start folder or where --config said
};

// The settings file: FILE of --config when given; else Zanth-Emulator.ini in the start folder when it is
// there (a portable folder) as a file or as a link, even one that points nowhere: such a link is the
// portable file that cannot be read, told at start, never quietly replaced by the home's file (perhaps for
// another robot); else $XDG_CONFIG_HOME/zanth-emulator/Zanth-Emulator.ini (~/.config/...). With no home at
// all, the start folder as a last resort. The Data folder lies beside a portable settings file, else in
// $XDG_DATA_HOME/zanth-emulator/Data (~/.local/share/...).
Locations ResolveLocations(const PathEnv& env, const std::optional<std::string>& configOverride,
                           const FileCheck& isFile = IsRegularFile, const FileCheck& isLink = IsSymbolicLink);

// The file name of the manual in the language given.
const char* ManualFileName(Language language);

// Where `cmake --install` put the manuals (compiled in from the install prefix).
std::string InstalledDocFolder();

// The manual to open: beside the settings, else in the installed doc folder; empty when neither has it.
std::string FindManual(const std::string& settingsDir, Language language,
                       const std::string& docDir = InstalledDocFolder(),
                       const FileCheck& isFile = IsRegularFile);

// "a/b" joined with "c" as "a/b/c"; either side may be empty.
std::string JoinPath(const std::string& dir, const std::string& name);
// The folder part of a path: "/a/b.ini" -> "/a", "/b.ini" -> "/", "b.ini" -> ".".
std::string FolderOf(const std::string& path);

// Where a sound file named in the settings lies on this machine. Paths the Windows program wrote (with
// backslashes or a drive letter) are taken apart: ".\Data\x.wav" and "Data\x.wav" lie in the Data folder,
// another relative one ("sub\x.wav") beside the settings file; an absolute one ("C:\Sounds\x.wav",
// "\\server\x.wav") cannot be reached from here, so its file name is looked for in the Data folder. When
// nothing is found there, a relative path gives where it should be and an absolute one stays as it was.
// Any other path is used as it stands while it names a file; when it does not (a portable folder copied
// elsewhere), its file name is looked for in the Data folder. The stored path itself never changes: the
// Windows program still reads the settings file.
std::string ResolveStoredPath(std::string_view stored, const std::string& settingsFolder,
                              const std::string& dataFolder, const FileCheck& isFile = IsRegularFile);

// Creates `folder` and whichever of its parents are missing, each private to the user (0700, as the XDG
// base directories ask). Returns "" on success (also when it already exists), else the reason.
std::string MakeFolders(const std::string& folder);

// Why no settings file can be saved at `settingsFile`, found before the session's settings depend on it: the
// part of the path that exists nearest to it is no folder (XDG_CONFIG_HOME naming a file), or the file is
// missing and that folder takes no new one. "" when nothing stands in the way that can be seen beforehand
// (also for an empty path, told at saving).
// An existing file that the user may not write, or whose folder takes no new file in its place (the save
// renames one over it), is named too; `access` answers as access(2) does, with the errno of a refusal (root
// passes it everywhere but on a read-only file system).
using AccessCheck = std::function<int(const std::string& path, int mode)>;
int AccessOf(const std::string& path, int mode);
std::string WhySettingsCannotBeSaved(const std::string& settingsFile, const AccessCheck& access = AccessOf);

// How a window names its settings file `path` beside others: "" when it is `defaultPath`; else the file's
// name, or the whole path when the name alone is the default one's (a copy of the settings in another
// folder).
std::string SettingsNameForTitle(const std::string& path, const std::string& defaultPath);

// The values of the running process: the given start folder, $HOME (or the password database), XDG_*.
PathEnv PathEnvOfProcess(const std::string& startDir);

}  // namespace zanth
