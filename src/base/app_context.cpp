#include "base/app_context.h"

#include <array>

#include "base/version.h"

namespace zanth {
namespace {

struct KeyRow {
    int scanCode;
    const char* name;
};

// Scan codes are the PC keyboard set-1 codes; only these 59 keys can be bound (no F1: it is the help key).
constexpr std::array<KeyRow, 59> kKeys{{
    {60, "F2"},    {61, "F3"},    {62, "F4"},    {63, "F5"},    {64, "F6"},    {65, "F7"},    {66, "F8"},
    {67, "F9"},    {68, "F10"},   {87, "F11"},   {88, "F12"},   {2, "1"},      {3, "2"},      {4, "3"},
    {5, "4"},      {6, "5"},      {7, "6"},      {8, "7"},      {9, "8"},      {10, "9"},     {11, "0"},
    {16, "Q"},     {17, "W"},     {18, "E"},     {19, "R"},     {20, "T"},     {21, "Y"},     {22, "U"},
    {23, "I"},     {24, "O"},     {25, "P"},     {30, "A"},     {31, "S"},     {32, "D"},     {33, "F"},
    {34, "G"},     {35, "H"},     {36, "J"},     {37, "K"},     {38, "L"},     {44, "Z"},     {45, "X"},
    {46, "C"},     {47, "V"},     {48, "B"},     {49, "N"},     {50, "M"},     {51, "<"},     {52, ">"},
    {82, "NUM 0"}, {79, "NUM 1"}, {80, "NUM 2"}, {81, "NUM 3"}, {75, "NUM 4"}, {76, "NUM 5"}, {77, "NUM 6"},
    {71, "NUM 7"}, {72, "NUM 8"}, {73, "NUM 9"},
}};

// Qt's own options, which QApplication takes out of the command line itself.
// How many arguments `arg` takes up as one of them (the option and its value), or 0 when it is none of them.
int QtOption(std::string_view arg) {
    static constexpr std::array<std::string_view, 12> kWithValue{
        "platform",        "platformpluginpath", "platformtheme", "plugin",
        "qwindowgeometry", "qwindowicon",        "qwindowtitle",  "session",
        "display",         "geometry",           "style",         "stylesheet"};
    static constexpr std::array<std::string_view, 5> kFlags{"reverse", "widgetcount", "nograb", "dograb",
                                                            "sync"};
    if (arg.size() < 2 || arg[0] != '-') return 0;
    arg.remove_prefix(arg.rfind("--", 0) == 0 ? 2 : 1);
    for (std::string_view o : kWithValue)
        if (arg == o) return 2;
    for (std::string_view o : kFlags)
        if (arg == o) return 1;
    return 0;
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    auto refuse = [&cl](CommandLine::Fault fault, const std::string& arg) {
        if (cl.fault != CommandLine::Fault::kNone) return;  // the first fault is the one to report
        cl.fault = fault;
        cl.faultArg = arg;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        // "--opt=value" or "--opt value"
        const std::size_t eq = a.find('=');
        const std::string name = a.rfind("--", 0) == 0 && eq != std::string::npos ? a.substr(0, eq) : a;
        auto value = [&]() -> std::optional<std::string> {
            if (name.size() < a.size()) return a.substr(name.size() + 1);
            if (i + 1 < args.size()) return args[++i];
            refuse(CommandLine::Fault::kMissingValue, name);
            return std::nullopt;
        };
        if ((name == "--help" || name == "-h" || name == "--version") && name.size() < a.size()) {
            refuse(CommandLine::Fault::kUnknownOption, a);
        } else if (name == "--help" || name == "-h") {
            cl.help = true;
        } else if (name == "--version") {
            cl.version = true;
        } else if (name == "--choose-config" && name.size() == a.size()) {
            cl.chooseConfig = true;
        } else if (name == "--lang") {
            const auto v = value();
            if (v == "ja")
                cl.language = Language::kJapanese;
            else if (v == "en")
                cl.language = Language::kEnglish;
            else if (v)
                refuse(CommandLine::Fault::kBadLanguage, *v);
        } else if (name == "--config") {
            const auto v = value();
            if (v && !v->empty())
                cl.config = *v;
            else if (v)
                refuse(CommandLine::Fault::kMissingValue, name);
        } else if (name == "--remote") {
            // The port only after "=": a bare --remote must not swallow the next argument.
            cl.remote = true;
            if (name.size() < a.size()) {
                const std::string v = a.substr(name.size() + 1);
                int port = 0;
                const bool digits =
                    !v.empty() && v.size() <= 5 && v.find_first_not_of("0123456789") == std::string::npos;
                if (digits) port = std::stoi(v);
                if (port >= 1 && port <= 65535)
                    cl.remotePort = port;
                else
                    refuse(CommandLine::Fault::kBadRemotePort, v);
            }
        } else if (const int qt = QtOption(a); qt > 0) {
            i += static_cast<std::size_t>(qt - 1);
            if (i >= args.size()) refuse(CommandLine::Fault::kMissingValue, a);
        } else if (a.size() > 1 && a.front() == '-') {
            refuse(CommandLine::Fault::kUnknownOption, a);
        } else {
            refuse(CommandLine::Fault::kUnexpectedArgument, a);
        }
    }
    return cl;
}

int BindableKeyByName(std::string_view name) {
    for (const KeyRow& k : kKeys)
        if (name == k.name) return k.scanCode;
    return -1;
}

std::string BindableKeyName(int scanCode) {
    for (const KeyRow& k : kKeys)
        if (k.scanCode == scanCode) return k.name;
    return {};
}

const char* Version() {
    return kVersionNumber;
}

std::string HelpText(Language language) {
    return UiText(Msg::kHelp, language);
}

std::string VersionText() {
    return std::string("zanth-emulator ") + Version() + "\n";
}

std::string CommandLineFaultText(const CommandLine& cl, Language language) {
    Msg id = Msg::kUnknownOption;
    switch (cl.fault) {
        case CommandLine::Fault::kNone:
            return {};
        case CommandLine::Fault::kUnknownOption:
            id = Msg::kUnknownOption;
            break;
        case CommandLine::Fault::kUnexpectedArgument:
            id = Msg::kUnexpectedArgument;
            break;
        case CommandLine::Fault::kMissingValue:
            id = Msg::kOptionNeedsValue;
            break;
        case CommandLine::Fault::kBadLanguage:
            id = Msg::kBadLanguage;
            break;
        case CommandLine::Fault::kBadRemotePort:
            id = Msg::kBadRemotePort;
            break;
    }
    std::string text = UiText(id, language);
    const std::size_t at = text.find("%1");
    if (at != std::string::npos) text.replace(at, 2, cl.faultArg);
    return "zanth-emulator: " + text + "\n" + UiText(Msg::kTryHelp, language) + "\n";
}

AppContext::AppContext(const StartupInfo& info) {
    if (info.languageName.empty() && !info.languageOverride) {
        // Without a language the rest of the set-up is skipped; see localeOk().
        return;
    }
    localeOk_ = true;
    language = info.languageName.rfind("Japanese", 0) == 0 ? Language::kJapanese : Language::kEnglish;
    if (info.leftShiftDown) language = Language::kEnglish;
    if (info.languageOverride) language = *info.languageOverride;

    keyNames.reserve(kKeys.size() + 1);
    keyNames.push_back({-1, UiText(Msg::kNone, language)});
    for (const KeyRow& k : kKeys) keyNames.push_back({k.scanCode, k.name});

    const PathEnv env{info.currentDirectory, info.home, info.xdgConfigHome, info.xdgDataHome};
    const Locations where =
        ResolveLocations(env, info.configOverride, info.isFile ? info.isFile : IsRegularFile);
    configPath = where.settingsFile;
    defaultConfigPath =
        info.configOverride
            ? ResolveLocations(env, std::nullopt, info.isFile ? info.isFile : IsRegularFile).settingsFile
            : configPath;
    dataFolder = where.dataFolder;
    portableSettings = where.portable;
    batteryDisplay = 1;
}

std::string AppContext::WindowTitle() const {
    const std::string program = Tr(Msg::kWindowTitle);
    const std::string name = SettingsNameForTitle(configPath, defaultConfigPath);
    return name.empty() ? program : name + " \u2014 " + program;
}

int AppContext::FindScanCodeByName(std::optional<std::string_view> name) const {
    if (!name) return -1;
    for (const KeyName& k : keyNames)
        if (std::string_view(k.name).substr(0, name->size()) == *name && k.name.size() >= name->size())
            return k.scanCode;
    return -1;
}

int AppContext::FindIndexByScanCode(int scanCode) const {
    for (std::size_t i = 0; i < keyNames.size(); ++i)
        if (keyNames[i].scanCode == scanCode) return static_cast<int>(i);
    return -1;
}

std::optional<std::string> AppContext::FindNameByScanCode(int scanCode) const {
    int i = FindIndexByScanCode(scanCode);
    if (i < 0) return std::nullopt;
    return keyNames[static_cast<std::size_t>(i)].name;
}

}  // namespace zanth
