#include "input/mapping.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/app_context.h"
#include "base/text.h"
#include "base/ui_text.h"
#include "input/gamepad_names.h"
#include "model/controller_model.h"

namespace zanth {
namespace {

constexpr int kFirstStickRow = 15;
constexpr int kFirstPadRow = 19;
constexpr int kFirstAxisRow = 23;

// Item behind each of the first 23 rows. The rows list the stick directions before the pad directions,
// the other way round from the item table.
int ItemOfRow(int row) {
    if (row < kFirstStickRow) return row;
    if (row < kFirstPadRow) return kStickItemBase + (row - kFirstStickRow);
    return kPadItemBase + (row - kFirstPadRow);
}

constexpr const char* kSections[] = {"AXIS", "BTN", "KEY", "TYPE"};

std::string Hex8(std::int32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", static_cast<std::uint32_t>(v));
    return buf;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

}  // namespace

std::vector<MappingEntry> FillMappingRows(const ControllerModel& model) {
    std::vector<MappingEntry> rows(kMappingRows);
    for (int r = 0; r < kFirstAxisRow; ++r) {
        const ControllerItem& it = model.item(ItemOfRow(r));
        MappingEntry& e = rows[static_cast<std::size_t>(r)];
        e.type = r < kFirstStickRow ? kMapButton : r < kFirstPadRow ? kMapStickDirection : kMapPadDirection;
        e.keyCode = it.keyCode;
        e.padButton = it.padButton;
        e.name = CutUtf8(it.displayName, kItemNameLimit);
    }
    for (int a = 0; a < 4; ++a) {
        const AxisBinding& b = model.axisBindings[static_cast<std::size_t>(a)];
        MappingEntry& e = rows[static_cast<std::size_t>(kFirstAxisRow + a)];
        e.type = kMapAxis;
        e.axis = b.axisIndex;
        e.name = CutUtf8(b.displayName, kItemNameLimit);
    }
    return rows;
}

void ApplyMappingRows(const std::vector<MappingEntry>& rows, ControllerModel& model) {
    const int count = std::min(static_cast<int>(rows.size()), kMappingRows);
    for (int r = 0; r < count; ++r) {
        const MappingEntry& e = rows[static_cast<std::size_t>(r)];
        if (r < kFirstAxisRow) {
            ControllerItem& it = model.item(ItemOfRow(r));
            it.keyCode = e.keyCode;
            if (r < kFirstStickRow) it.padButton = e.padButton;
        } else {
            model.axisBindings[static_cast<std::size_t>(r - kFirstAxisRow)].axisIndex = e.axis;
        }
    }
}

SaveResult SaveMappingFile(const std::string& path, const std::vector<MappingEntry>& rows,
                           TextEncoding newFileEncoding) {
    std::string error;
    IniFile file = IniFile::Load(path, &error);
    if (!error.empty()) return {false, error};
    file.UseEncodingIfNew(newFileEncoding);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const MappingEntry& e = rows[i];
        const std::string key = std::to_string(i);
        const int values[] = {e.axis, e.padButton, e.keyCode, e.type};
        for (int s = 0; s < 4; ++s) file.WriteInt(kSections[s], key, values[s]);
        // The name's limit counts in the file's encoding: a file from the Windows program stays CP932.
        file.WriteString("NAME", key, file.Fit(e.name, kItemNameLimit));
    }
    return file.Save(path);
}

namespace {

// Whether `section` holds the key of any row: only then does the file say something about that field.
bool HoldsRows(const IniFile& file, std::string_view section) {
    for (int i = 0; i < kMappingRows; ++i)
        if (file.HasKey(section, std::to_string(i))) return true;
    return false;
}

}  // namespace

MappingLoad LoadMappingFile(const std::string& path, std::vector<MappingEntry>& rows) {
    MappingLoad result;
    // The file dialog asks for an existing file, but it may be gone by now; a missing file must not read
    // as one that binds nothing.
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        result.error = (ec ? ec : std::make_error_code(std::errc::no_such_file_or_directory)).message();
        return result;
    }
    const IniFile file = IniFile::Load(path, &result.error);
    if (!result.error.empty()) return result;

    constexpr std::string_view kNames[] = {"AXIS", "BTN", "KEY", "TYPE", "NAME"};
    bool held[5] = {};
    for (std::size_t s = 0; s < 5; ++s) {
        held[s] = HoldsRows(file, kNames[s]);
        if (!held[s]) result.keptSections.emplace_back(kNames[s]);
    }
    if (result.keptSections.size() == 5) {
        result.outcome = MappingLoad::kNotMapping;
        result.keptSections.clear();
        return result;
    }
    result.outcome = MappingLoad::kLoaded;
    result.encoding = file.encoding();
    rows.resize(kMappingRows, MappingEntry{-1, -1, -1, -1, "name"});
    for (int i = 0; i < kMappingRows; ++i) {
        MappingEntry& e = rows[static_cast<std::size_t>(i)];
        const std::string key = std::to_string(i);
        int* fields[] = {&e.axis, &e.padButton, &e.keyCode, &e.type};
        for (std::size_t s = 0; s < 4; ++s)
            if (held[s]) *fields[s] = file.GetInt(kNames[s], key, -1);
        if (held[4]) e.name = file.GetString("NAME", key, "name", kItemNameLimit + 1);
    }
    return result;
}

MappingRowTexts RowTexts(const MappingEntry& row, const AppContext& app, const GamepadNames& names) {
    MappingRowTexts t;
    switch (row.type) {
        case kMapButton:
            t.key = app.FindNameByScanCode(row.keyCode).value_or("");
            t.pad = names.ButtonName(row.padButton).value_or("");
            break;
        case kMapStickDirection:
        case kMapPadDirection:
            t.key = app.FindNameByScanCode(row.keyCode).value_or("");
            break;
        case kMapAxis:
            t.pad = names.AxisName(row.axis).value_or("");
            break;
        default:
            break;
    }
    return t;
}

RowChoices ChoicesForRow(int rowIndex, const MappingEntry& row, const AppContext& app,
                         const GamepadNames& names) {
    RowChoices c;
    switch (row.type) {
        case kMapButton:
            c.keyEnabled = true;
            c.keySelection = app.FindIndexByScanCode(row.keyCode);
            if (rowIndex != kMappingModeRow) {
                c.padEnabled = true;
                c.padList = PadChoices::kButtons;
                c.padSelection = names.ButtonIndex(row.padButton);
            }
            break;
        case kMapStickDirection:
        case kMapPadDirection:
            c.keyEnabled = true;
            c.keySelection = app.FindIndexByScanCode(row.keyCode);
            break;
        case kMapAxis:
            c.padEnabled = true;
            c.padList = PadChoices::kAxes;
            c.padSelection = names.AxisIndex(row.axis);
            break;
        default:
            break;
    }
    return c;
}

int KeyCodeForChoice(const AppContext& app, int position) {
    if (position < 0 || position >= app.keyNameCount()) return -1;
    return app.keyNames[static_cast<std::size_t>(position)].scanCode;
}

std::optional<std::string> ApplyGamepadChoice(MappingEntry& row, int position, const GamepadNames& names) {
    switch (row.type) {
        case kMapAxis:
            row.axis = position >= 0 && position < static_cast<int>(names.axisNames.size())
                           ? names.axisNames[static_cast<std::size_t>(position)].code
                           : -1;
            return names.AxisName(row.axis);
        case kMapButton:
            row.padButton = position >= 0 && position < static_cast<int>(names.buttonNames.size())
                                ? names.buttonNames[static_cast<std::size_t>(position)].code
                                : -1;
            return names.ButtonName(row.padButton);
        default:
            row.axis = -1;
            row.padButton = -1;
            return std::nullopt;
    }
}

std::array<std::string, kDataViewRows> DataViewLabels(Language language) {
    std::array<std::string, kDataViewRows> labels;
    std::size_t n = 0;
    static const char* const kAxes[6] = {"X", "Y", "Z", "RX", "RY", "RZ"};
    const std::string axisSuffix = UiText(Msg::kAxisSuffix, language);
    // One group of six axes and two sliders; the plain group has no prefix.
    auto group = [&](const std::string& prefix) {
        for (const char* a : kAxes) labels[n++] = prefix + a + axisSuffix;
        const std::string slider =
            prefix + UiText(prefix.empty() ? Msg::kSlider : Msg::kPrefixedSlider, language);
        for (int s = 1; s <= 2; ++s) labels[n++] = slider + std::to_string(s);
    };
    group("");
    const std::string pov = UiText(Msg::kPointOfView, language);
    for (int p = 1; p <= 4; ++p) labels[n++] = pov + std::to_string(p);
    group("V");
    group("A");
    group("F");
    const std::string button = UiText(Msg::kDataButton, language);
    for (int b = 1; b <= 128; ++b) labels[n++] = button + std::to_string(b);
    return labels;
}

std::array<std::string, kDataViewRows> DataViewValues(const GamepadState& s) {
    std::array<std::string, kDataViewRows> values;
    std::size_t n = 0;
    for (std::int32_t v : s.axes) values[n++] = Hex8(v);
    for (std::int32_t v : s.sliders) values[n++] = Hex8(v);
    for (std::int32_t v : s.pov) values[n++] = std::to_string(v);
    for (std::int32_t v : s.velocity) values[n++] = Hex8(v);
    for (std::int32_t v : s.acceleration) values[n++] = Hex8(v);
    for (std::int32_t v : s.force) values[n++] = Hex8(v);
    for (std::uint8_t v : s.buttons) values[n++] = std::to_string(v);
    return values;
}

std::string ToQtFileFilter(std::string_view filter) {
    std::string out;
    while (!filter.empty()) {
        const std::size_t bar = filter.find('|');
        const std::string_view desc = filter.substr(0, bar);
        if (desc.empty()) break;  // the closing "||"
        filter = bar == std::string_view::npos ? std::string_view() : filter.substr(bar + 1);
        const std::size_t bar2 = filter.find('|');
        std::string_view patterns = filter.substr(0, bar2);
        filter = bar2 == std::string_view::npos ? std::string_view() : filter.substr(bar2 + 1);

        // QFileDialog takes the patterns from the parentheses at the end of the text, so the description's
        // own "(*.kjd)" is replaced by the pattern list itself.
        std::string_view text = Trim(desc);
        if (!text.empty() && text.back() == ')') {
            const std::size_t open = text.rfind('(');
            if (open != std::string_view::npos) text = Trim(text.substr(0, open));
        }
        std::string list;
        while (!patterns.empty()) {
            const std::size_t semi = patterns.find(';');
            std::string_view p = Trim(patterns.substr(0, semi));
            patterns = semi == std::string_view::npos ? std::string_view() : patterns.substr(semi + 1);
            if (p.empty()) continue;
            if (!list.empty()) list += ' ';
            list.append(p == "*.*" ? std::string_view("*") : p);
        }
        if (list.empty()) list.push_back('*');
        if (!out.empty()) out += ";;";
        out.append(text).append(" (").append(list).append(")");
    }
    return out;
}

}  // namespace zanth
