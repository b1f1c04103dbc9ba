#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/text.h"
#include "base/ui_text.h"
#include "model/pad_choice.h"

namespace zanth {

class AppContext;
struct Settings;
struct StoredBinding;

// Index of each item in ControllerModel::items. The order is fixed: other code reaches groups by range
// (buttons 0..14, pad items 15..18, stick items 19..22) and the settings file is written in this order.
enum ItemIndex : int {
    kItem1 = 0,
    kItem2,
    kItem3,
    kItem4,
    kItemF1,
    kItemF2,
    kItemMode,
    kItemSelect,
    kItemStart,
    kItemL1,
    kItemL2,
    kItemL3,
    kItemR1,
    kItemR2,
    kItemR3,
    kItemPadUp,
    kItemPadRight,
    kItemPadDown,
    kItemPadLeft,
    kItemStickUp,
    kItemStickRight,
    kItemStickDown,
    kItemStickLeft,
    kItemLed,
    kItemBackground,
};
inline constexpr int kItemCount = 25;
inline constexpr int kButtonCount = 15;
inline constexpr int kPadItemBase = 15;
inline constexpr int kStickItemBase = 19;
inline constexpr int kInputItemCount = 23;  // buttons, pad items and stick items: the ones with bindings

// Byte limits of the stored texts, in bytes of the settings file's encoding (textEncoding), cut on a
// character boundary.
inline constexpr std::size_t kItemNameLimit = 23;
inline constexpr std::size_t kSoundNameLimit = 62;
inline constexpr std::size_t kSoundFileLimit = 2043;

// One element of the on-screen controller.
struct ControllerItem {
    int upBitmapId = 0;    // artwork id of the released picture (0 = none)
    int downBitmapId = 0;  // artwork id of the pressed picture
    std::string displayName;
    std::string iniKey;  // identity in the settings file; the same in both languages
    int keyCode = -1;    // bound PC key scan code; only 0..255 ever matches
    int padButton = -1;  // bound gamepad button 0..127; negative = none
    int defaultKeyCode = -1;
    int defaultPadButton = -1;
    int left = 0, top = 0, width = 0, height = 0;  // picture rectangle in client pixels
    int togglesLed = 0;
    int keyDown = 0;     // held through the PC keyboard
    int mouseDown = 0;   // held with the mouse
    int padDown = 0;     // held through the gamepad
    int remoteDown = 0;  // held by a remote-control client
    int latched = 0;     // LED only: lit

    bool IsPressed() const { return keyDown != 0 || mouseDown != 0 || padDown != 0 || remoteDown != 0; }
    bool IsDrawnPressed() const { return IsPressed() || latched != 0; }
    // Hit test with both edges excluded: a point on the border hits nothing.
    bool Hits(int x, int y) const { return left < x && x < left + width && top < y && y < top + height; }
};

// Which gamepad axis (0 X, 1 Y, 2 Z, 3 RX, 4 RY, 5 RZ, -1 none) feeds one analog axis.
struct AxisBinding {
    int axisIndex = -1;
    std::string displayName;
};
enum AxisBindingIndex : int { kAxisLX = 0, kAxisLY, kAxisRX, kAxisRY };

// Sound-effect settings of one input item.
struct SoundEffect {
    int item = -1;  // index of the item (ItemIndex) whose press triggers the effect
    int playing = 0;
    int enabled = 0;
    std::string name;  // at most kSoundNameLimit bytes
    std::string file;  // at most kSoundFileLimit bytes
    int length = 0;    // ms, multiple of 100; 0 = the file's own length
    int repeat = 0;
    int repeatMode = 0;
};
inline constexpr int kSoundEffectCount = 16;
// Items that own a sound effect, in record order.
inline constexpr std::array<int, kSoundEffectCount> kSoundItems{
    kItem1,  kItem2,  kItem3,  kItem4,  kItemF1,    kItemF2,       kItemL1,      kItemL2,
    kItemL3, kItemR1, kItemR2, kItemR3, kItemPadUp, kItemPadRight, kItemPadDown, kItemPadLeft};

// The model of the on-screen controller. Plain data plus the few rules that belong to it; it knows no
// widget and reaches whoever draws it only through `invalidate`.
class ControllerModel {
  public:
    std::array<ControllerItem, kItemCount> items{};
    std::array<AxisBinding, 4> axisBindings{};
    std::array<SoundEffect, 32> soundEffects{};
    int soundEffectCount = 0;
    std::array<int, 5> resolutionDivisors{1, 2, 4, 8, 16};
    int gamepadReady = 0;
    int leftStickX = 128, leftStickY = 128, rightStickX = 128, rightStickY = 128;
    int sliderResolution = 0;
    PadChoice pad;       // the pad that drives this instance
    bool rumble = true;  // the pad's motors tell a low battery and a lost port, where it has them
    // The settings file's encoding: the byte limits of the sound names and paths count in it.
    TextEncoding textEncoding = TextEncoding::kUtf8;
    std::uint32_t wheelTime = 0;
    int wheelSlider = 0;
    int currentLength = 0;
    std::uint32_t soundStartTick = 0;
    int currentSound = 0;

    // Repaint request for one item's rectangle; set by the window. Called after every state change.
    std::function<void(const ControllerItem&)> invalidate;

    ControllerItem& item(int index) { return items[static_cast<std::size_t>(index)]; }
    const ControllerItem& item(int index) const { return items[static_cast<std::size_t>(index)]; }
    std::span<ControllerItem, kButtonCount> buttons() { return std::span(items).first<kButtonCount>(); }
    std::span<ControllerItem, 4> padItems() { return std::span(items).subspan<kPadItemBase, 4>(); }
    std::span<ControllerItem, 4> stickItems() { return std::span(items).subspan<kStickItemBase, 4>(); }
    std::span<ControllerItem, kInputItemCount> inputItems() {
        return std::span(items).first<kInputItemCount>();
    }
    ControllerItem& ledItem() { return items[kItemLed]; }
    const ControllerItem& ledItem() const { return items[kItemLed]; }
    ControllerItem& backgroundItem() { return items[kItemBackground]; }

    int divisor() const { return resolutionDivisors[static_cast<std::size_t>(sliderResolution)]; }

    void InvalidateItem(const ControllerItem& it) const {
        if (invalidate) invalidate(it);
    }
    // Flips the LED lit state and asks for its repaint (MODE press by key or mouse).
    void FlipLed();
};

// Settings key of item `index` (ItemIndex): its identity in the settings file, the same in both languages.
std::string_view ItemIniKey(int index);
// The built-in name of item `index` in `language`, whatever the active one.
const char* ItemTableName(int index, Language language);

// Builds the whole model from the built-in item table and the settings read at start: language-dependent
// names, bindings, axis bindings, the 16 sound effects and the slider resolution. Cannot fail: anything
// the settings lack takes its built-in default.
void BuildModel(ControllerModel& model, const AppContext& app, const Settings& settings);

// Fills one item from its built-in values and its stored bindings (factory bindings where none is stored).
void BuildItem(ControllerItem& item, const AppContext& app, const StoredBinding& stored,
               std::string_view displayName, std::string_view iniKey, int upBitmapId, int downBitmapId,
               int left, int top, int width, int height, int defaultPadButton,
               std::optional<std::string_view> defaultKeyName, int togglesLed);

}  // namespace zanth
