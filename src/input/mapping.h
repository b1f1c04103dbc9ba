#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ui_text.h"
#include "input/input_state.h"
#include "model/ini_file.h"

namespace zanth {

class AppContext;
class GamepadNames;
class ControllerModel;

// What a row of the operation settings binds. Any other value (a mapping file may hold one) makes the row
// unbindable in the dialog, but its codes are still copied back by position.
enum MappingType : int { kMapButton = 0, kMapStickDirection = 1, kMapAxis = 2, kMapPadDirection = 3 };

// One row of the operation settings. Fields a row's type does not use keep whatever they hold (0 for rows
// filled from the model); they are still written to and read from mapping files.
struct MappingEntry {
    int type = kMapButton;
    int keyCode = 0;    // scan code, -1 = none (types 0, 1, 3)
    int padButton = 0;  // gamepad button code, negative = none (type 0)
    int axis = 0;       // gamepad axis code -1..5 (type 2)
    std::string name;   // UTF-8; at most kItemNameLimit bytes in the encoding of the file it goes to
    bool operator==(const MappingEntry&) const = default;
};

// Rows 0..14 the buttons, 15..18 the LEFT STICK directions, 19..22 the PAD directions, 23..26 the axes LX,
// LY, RX, RY. The index is also the key in a mapping file.
inline constexpr int kMappingRows = 27;
inline constexpr int kMappingModeRow = 6;  // MODE has no gamepad button to choose

std::vector<MappingEntry> FillMappingRows(const ControllerModel& model);
// Copies the bindings back by row position, whatever type a loaded file gave a row: keys of all 23 input
// items, gamepad buttons of the 15 buttons only, the four axis codes. Names and types stay in the rows.
void ApplyMappingRows(const std::vector<MappingEntry>& rows, ControllerModel& model);

// Writes every row's AXIS, BTN, KEY, TYPE and NAME into `path`, keeping everything else the file holds, in
// the file's encoding (CP932 for a file of the Windows program; a new file is UTF-8).
// An existing file that cannot be read is left alone and reported, since rewriting it would drop its content.
// A new file is written in `newFileEncoding` (names read from a file of the Windows program keep fitting its
// byte limits); an existing file keeps its own encoding.
SaveResult SaveMappingFile(const std::string& path, const std::vector<MappingEntry>& rows,
                           TextEncoding newFileEncoding = TextEncoding::kUtf8);
// How a mapping file was read. A file with none of the sections AXIS, BTN, KEY, TYPE, NAME is refused like
// an unreadable one: taken as a mapping file it would blank every binding.
struct MappingLoad {
    enum Outcome { kLoaded, kUnreadable, kNotMapping };
    Outcome outcome = kUnreadable;
    std::string error;                      // kUnreadable: the reason
    std::vector<std::string> keptSections;  // kLoaded: sections the file lacks, whose fields were left alone
    TextEncoding encoding = TextEncoding::kUtf8;
    bool ok() const { return outcome == kLoaded; }
};
// Reads kMappingRows rows; missing keys of a section the file has give -1 and the name "name". A section
// counts as there when it holds at least one row's key; the fields of a section that is not there keep
// what `rows` held (rows that `rows` did not have get the defaults). Names of a CP932 file come as UTF-8.
// A file that is missing, cannot be read or is no mapping file changes no row.
MappingLoad LoadMappingFile(const std::string& path, std::vector<MappingEntry>& rows);

// Texts of a row's Keyboard and Game Pad columns; empty where the type shows nothing or no name is found.
struct MappingRowTexts {
    std::string key;
    std::string pad;
};
MappingRowTexts RowTexts(const MappingEntry& row, const AppContext& app, const GamepadNames& names);

// State of the two combo boxes while row `rowIndex` is the current one.
enum class PadChoices { kNone, kButtons, kAxes };
struct RowChoices {
    bool keyEnabled = false;
    int keySelection = -1;  // position in the key-name table, -1 = no selection
    bool padEnabled = false;
    PadChoices padList = PadChoices::kNone;
    int padSelection = -1;  // position in the offered list, -1 = no selection
};
RowChoices ChoicesForRow(int rowIndex, const MappingEntry& row, const AppContext& app,
                         const GamepadNames& names);

// Keyboard combo position -> scan code; a position outside the table means no key (-1).
int KeyCodeForChoice(const AppContext& app, int position);
// Stores the gamepad combo position `position` in the row by its type. Returns the Game Pad column's new
// text, or nothing when the column keeps its text.
std::optional<std::string> ApplyGamepadChoice(MappingEntry& row, int position, const GamepadNames& names);

// The live data view: one row per value of a gamepad reading. Buttons come last so that the few values a
// gamepad actually moves (axes, sliders, hats) are on screen without scrolling.
inline constexpr int kDataViewRows = 164;
std::array<std::string, kDataViewRows> DataViewLabels(Language language);
std::array<std::string, kDataViewRows> DataViewValues(const GamepadState& state);

// File-dialog filter "desc|pattern|desc|pattern||" in the form QFileDialog takes ("desc (patterns);;...").
// "*.*" becomes "*": on this platform a file need not have a dot to be one of "all files".
std::string ToQtFileFilter(std::string_view filter);

}  // namespace zanth
