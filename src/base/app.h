#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ui_text.h"

namespace zanth {

// One bindable PC key: its keyboard scan code (-1 for the "none" entry) and the name shown for it.
struct KeyName {
    int scanCode = -1;
    std::string name;
};

// What the application object needs to know of the machine it starts on. Gathered by main() from the
// desktop (system language, left Shift held, current directory) so that the rules below stay testable.
struct StartupInfo {
    std::string languageName;      // English name of the system language, e.g. "Japanese"; empty = unknown
    bool leftShiftDown = false;    // left Shift held at start-up forces English
    std::string currentDirectory;  // where the settings file is looked for; empty = unreadable
    std::optional<int> languageOverride;        // --lang: 1 Japanese, 0 English
    std::optional<std::string> configOverride;  // --config PATH
};

// Options of the command line. Unknown arguments are listed in `unknown` and otherwise ignored.
struct CommandLine {
    std::optional<int> language;
    std::optional<std::string> config;
    std::vector<std::string> unknown;
    std::string error;  // non-empty when an option is malformed (e.g. --lang xx)
};
CommandLine ParseCommandLine(const std::vector<std::string>& args);

inline constexpr const char* kSettingsFileName = "Zanth-Emulator.ini";

// The process-wide application object: language, key-name table and settings path are settled at
// construction and never change afterwards; the remaining fields are shared state of the running program.
class CPadoraApp {
  public:
    explicit CPadoraApp(const StartupInfo& info);

    // False when the system language could not be determined: the program then runs in English with an
    // empty key table and no settings file, after telling the user "Don't get localization!".
    bool localeOk() const { return localeOk_; }

    int language = 0;  // 1 = Japanese texts, 0 = English
    std::string configPath;
    std::vector<KeyName> keyNames;
    int keyNameCount() const { return static_cast<int>(keyNames.size()); }

    // Whether the battery reply is asked for: 1 after a normal start, 0 when the language was unknown.
    int batteryDisplay = 0;

    bool japanese() const { return language == 1; }
    // The text of `id` in the active language.
    const char* Tr(Msg id) const { return UiText(id, language); }
    // Picks the text of the active language.
    const char* Text(const char* ja, const char* en) const { return japanese() ? ja : en; }

    int FindScanCodeByName(std::optional<std::string_view> name) const;
    int FindIndexByScanCode(int scanCode) const;
    std::optional<std::string> FindNameByScanCode(int scanCode) const;

  private:
    bool localeOk_ = false;
};

}  // namespace zanth
