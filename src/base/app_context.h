#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/paths.h"
#include "base/ui_text.h"

namespace zanth {

// One bindable PC key: its keyboard scan code (-1 for the "none" entry) and the name shown for it.
struct KeyName {
    int scanCode = -1;
    std::string name;
};

// The bindable keys' table without an AppContext (settings read before one exists): the scan code of a key's
// exact name (-1 when no bindable key has it), and the name of a scan code (empty when none).
int BindableKeyByName(std::string_view name);
std::string BindableKeyName(int scanCode);

// What the application object needs to know of the machine it starts on. Gathered by main() from the
// desktop (system language, left Shift held, current directory) so that the rules below stay testable.
struct StartupInfo {
    std::string languageName;      // English name of the system language, e.g. "Japanese"; empty = unknown
    bool leftShiftDown = false;    // left Shift held at start-up forces English
    std::string currentDirectory;  // where a portable settings file is looked for; empty = unreadable
    std::optional<Language> languageOverride;   // --lang
    std::optional<std::string> configOverride;  // --config PATH
    // Homes of the settings and Data folders (see paths.h). Without any of them, the start folder holds
    // everything, as it did before the program was installable.
    std::string home = {};
    std::string xdgConfigHome = {};
    std::string xdgDataHome = {};
    FileCheck isFile = IsRegularFile;
};

// The command line. Qt's own options (-platform NAME, -display NAME, ...) are let through for QApplication.
struct CommandLine {
    enum class Fault {
        kNone,
        kUnknownOption,
        kUnexpectedArgument,
        kMissingValue,
        kBadLanguage,
        kBadRemotePort
    };
    std::optional<Language> language;
    std::optional<std::string> config;
    bool chooseConfig = false;      // --choose-config: ask for the settings file in a file dialog at start
    bool remote = false;            // --remote: the remote-control server on for this run
    std::optional<int> remotePort;  // --remote=PORT
    bool help = false;
    bool version = false;
    Fault fault = Fault::kNone;  // the first refused argument; the program then exits with code 2
    std::string faultArg;        // that argument (or the option missing its value)
};
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// What --help, --version and a refused argument print, in the language given.
std::string HelpText(Language language);
std::string VersionText();
std::string CommandLineFaultText(const CommandLine& cl, Language language);

// The project's version, e.g. "1.0.0.2".
const char* Version();

inline constexpr const char* kSettingsFileName = "Zanth-Emulator.ini";

// The process-wide application object: language, key-name table and settings path are settled at
// construction and never change afterwards; the remaining fields are shared state of the running program.
class AppContext {
  public:
    explicit AppContext(const StartupInfo& info);

    // False when the system language could not be determined: the program then runs in English with an
    // empty key table and no settings file, after telling the user "Don't get localization!".
    bool localeOk() const { return localeOk_; }

    Language language = Language::kEnglish;
    std::string configPath;
    std::string defaultConfigPath;  // where the settings would be without --config
    std::string dataFolder;         // sound and mapping files; may not exist yet
    bool portableSettings = false;  // configPath is in the start folder or was given by --config
    std::vector<KeyName> keyNames;
    int keyNameCount() const { return static_cast<int>(keyNames.size()); }

    // Whether the battery reply is asked for: 1 after a normal start, 0 when the language was unknown.
    int batteryDisplay = 0;

    bool japanese() const { return language == Language::kJapanese; }
    // The text of `id` in the active language.
    const char* Tr(Msg id) const { return UiText(id, language); }
    // Picks the text of the active language.
    const char* Text(const char* ja, const char* en) const { return japanese() ? ja : en; }
    // The window's title: the program and, when the settings file is not the default one, that file's name
    // first, so that windows on different files can be told apart.
    std::string WindowTitle() const;

    int FindScanCodeByName(std::optional<std::string_view> name) const;
    int FindIndexByScanCode(int scanCode) const;
    std::optional<std::string> FindNameByScanCode(int scanCode) const;

  private:
    bool localeOk_ = false;
};

}  // namespace zanth
