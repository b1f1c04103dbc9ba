#include "base/app.h"

#include <array>

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

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
    CommandLine cl;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string_view opt) -> std::optional<std::string> {
            if (a.size() > opt.size() && a.compare(0, opt.size(), opt) == 0 && a[opt.size()] == '=')
                return a.substr(opt.size() + 1);
            if (a == opt) {
                if (i + 1 < args.size()) return args[++i];
                cl.error = std::string(opt) + " needs a value";
                return std::nullopt;
            }
            return std::nullopt;
        };
        if (a.rfind("--lang", 0) == 0) {
            auto v = value("--lang");
            if (!v) {
                if (cl.error.empty()) cl.unknown.push_back(a);
                continue;
            }
            if (*v == "ja")
                cl.language = 1;
            else if (*v == "en")
                cl.language = 0;
            else
                cl.error = "--lang takes ja or en, not \"" + *v + "\"";
        } else if (a.rfind("--config", 0) == 0) {
            auto v = value("--config");
            if (v && !v->empty())
                cl.config = *v;
            else if (cl.error.empty())
                cl.error = "--config needs a file path";
        } else {
            cl.unknown.push_back(a);
        }
    }
    return cl;
}

CPadoraApp::CPadoraApp(const StartupInfo& info) {
    if (info.languageName.empty() && !info.languageOverride) {
        // Without a language the rest of the set-up is skipped; see localeOk().
        return;
    }
    localeOk_ = true;
    language = info.languageName.rfind("Japanese", 0) == 0 ? 1 : 0;
    if (info.leftShiftDown) language = 0;
    if (info.languageOverride) language = *info.languageOverride == 1 ? 1 : 0;

    keyNames.reserve(kKeys.size() + 1);
    keyNames.push_back({-1, UiText(Msg::kNone, language)});
    for (const KeyRow& k : kKeys) keyNames.push_back({k.scanCode, k.name});

    if (info.configOverride) {
        configPath = *info.configOverride;
    } else if (!info.currentDirectory.empty()) {
        configPath = info.currentDirectory;
        if (configPath.back() != '/') configPath += '/';
        configPath += kSettingsFileName;
    }
    batteryDisplay = 1;
}

int CPadoraApp::FindScanCodeByName(std::optional<std::string_view> name) const {
    if (!name) return -1;
    for (const KeyName& k : keyNames)
        if (std::string_view(k.name).substr(0, name->size()) == *name && k.name.size() >= name->size())
            return k.scanCode;
    return -1;
}

int CPadoraApp::FindIndexByScanCode(int scanCode) const {
    for (std::size_t i = 0; i < keyNames.size(); ++i)
        if (keyNames[i].scanCode == scanCode) return static_cast<int>(i);
    return -1;
}

std::optional<std::string> CPadoraApp::FindNameByScanCode(int scanCode) const {
    int i = FindIndexByScanCode(scanCode);
    if (i < 0) return std::nullopt;
    return keyNames[static_cast<std::size_t>(i)].name;
}

}  // namespace zanth
