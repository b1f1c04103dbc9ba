#include "model/controller_model.h"

#include "base/app.h"
#include "base/text.h"
#include "model/ini_file.h"
#include "model/settings.h"

namespace zanth {
namespace {

struct ItemRow {
    const char* ja;
    const char* en;
    const char* iniKey;
    int up, down;
    int left, top, width, height;
    const char* defaultKey;  // name looked up in the key-name table; nullptr = none
    int defaultPadButton;
    int togglesLed;
};

// The controller as drawn on the picture: artwork ids, rectangles (client pixels of the 800 x 600 picture)
// and factory bindings. Indices follow ItemIndex.
constexpr ItemRow kItemTable[kItemCount] = {
    {"1", "1", "1", 130, 131, 525, 303, 37, 37, "I", 2, 0},
    {"2", "2", "2", 132, 133, 565, 343, 37, 37, "O", 0, 0},
    {"3", "3", "3", 134, 135, 525, 383, 37, 37, "L", 1, 0},
    {"4", "4", "4", 136, 137, 485, 343, 37, 37, "K", 3, 0},
    {"F1", "F1", "F1", 150, 151, 335, 300, 37, 37, "F5", -1, 0},
    {"F2", "F2", "F2", 152, 153, 426, 300, 37, 37, "F6", -1, 0},
    {"MODE", "MODE", "MODE", 154, 155, 381, 300, 37, 37, "F9", -999, 1},
    {"SELECT", "SELECT", "SELECT", 156, 157, 360, 364, 37, 37, "F7", 8, 0},
    {"START", "START", "START", 158, 159, 404, 364, 37, 37, "F8", 9, 0},
    {"L1", "L1", "L1", 138, 139, 215, 157, 71, 43, "Q", 4, 0},
    {"L2", "L2", "L2", 140, 141, 215, 72, 71, 71, "Z", 5, 0},
    {"L3", "L3", "L3", 142, 143, 312, 414, 37, 37, "S", 10, 0},
    {"R1", "R1", "R1", 144, 145, 505, 157, 71, 43, "U", 6, 0},
    {"R2", "R2", "R2", 146, 147, 505, 72, 71, 71, "M", 7, 0},
    {"R3", "R3", "R3", 148, 149, 451, 414, 37, 37, "H", 11, 0},
    {"パッド 上", "PAD UP", "PAD1", 162, 163, 237, 302, 37, 37, "Y", -1, 0},
    {"パッド 右", "PAD RIGHT", "PAD2", 164, 165, 275, 339, 37, 37, "J", -1, 0},
    {"パッド 下", "PAD DOWN", "PAD3", 166, 167, 237, 377, 37, 37, "N", -1, 0},
    {"パッド 左", "PAD LEFT", "PAD4", 168, 169, 199, 339, 37, 37, "G", -1, 0},
    {"左スティック 上", "LEFT STICK UP", "LST1", 170, 171, 312, 376, 37, 37, "W", 1, 0},
    {"左スティック 右", "LEFT STICK RIGHT", "LST2", 172, 173, 351, 414, 37, 37, "D", 0, 0},
    {"左スティック 下", "LEFT STICK DOWN", "LST3", 174, 175, 312, 453, 37, 37, "X", 1, 0},
    {"左スティック 左", "LEFT STICK LEFT", "LST4", 176, 177, 273, 414, 37, 37, "A", 0, 0},
    {"LED", "LED", "LED", 160, 161, 390, 401, 20, 11, nullptr, -1, 0},
    {"BCK", "BCK", "BCK", 129, 129, 0, 0, 800, 600, nullptr, -1, 0},
};

struct AxisRow {
    const char* key;
    int defaultIndex;
    const char* ja;
    const char* en;
};
constexpr AxisRow kAxisTable[4] = {
    {"LX", 0, "左スティック X軸", "LEFT STICK X-Axis"},
    {"LY", 1, "左スティック Y軸", "LEFT STICK Y-Axis"},
    {"RX", 2, "右スティック X軸", "RIGHT STICK X-Axis"},
    {"RY", 5, "右スティック Y軸", "RIGHT STICK Y-Axis"},
};

}  // namespace

void ControllerModel::FlipLed() {
    ControllerItem& led = ledItem();
    led.latched = led.latched == 1 ? 0 : 1;
    InvalidateItem(led);
}

void BuildItem(ControllerItem& item, const CPadoraApp& app, const IniFile& settings,
               std::string_view displayName, std::string_view iniKey, int upBitmapId, int downBitmapId,
               int left, int top, int width, int height, int defaultPadButton,
               std::optional<std::string_view> defaultKeyName, int togglesLed) {
    item.displayName = CutUtf8(displayName, kItemNameLimit);
    item.iniKey = CutUtf8(iniKey, kItemNameLimit);
    item.upBitmapId = upBitmapId;
    item.downBitmapId = downBitmapId;
    item.left = left;
    item.top = top;
    item.width = width;
    item.height = height;
    item.togglesLed = togglesLed;
    item.defaultKeyCode = app.FindScanCodeByName(defaultKeyName);
    item.keyCode = settings.GetInt("CONTROLLER", item.iniKey, item.defaultKeyCode);
    item.defaultPadButton = defaultPadButton;
    item.padButton = settings.GetInt("JOYSTICK", item.iniKey, item.defaultPadButton);
}

void BuildModel(ControllerModel& model, const CPadoraApp& app, const IniFile& settings) {
    auto invalidate = std::move(model.invalidate);
    model = ControllerModel{};
    model.invalidate = std::move(invalidate);

    for (int i = 0; i < kItemCount; ++i) {
        const ItemRow& r = kItemTable[i];
        std::optional<std::string_view> key;
        if (r.defaultKey) key = r.defaultKey;
        BuildItem(model.item(i), app, settings, app.japanese() ? r.ja : r.en, r.iniKey, r.up, r.down, r.left,
                  r.top, r.width, r.height, r.defaultPadButton, key, r.togglesLed);
    }
    for (std::size_t i = 0; i < std::size(kAxisTable); ++i) {
        const AxisRow& a = kAxisTable[i];
        model.axisBindings[i].axisIndex = settings.GetInt("JOYSTICK", a.key, a.defaultIndex);
        model.axisBindings[i].displayName = app.japanese() ? a.ja : a.en;
    }
    for (int i = 0; i < kSoundEffectCount; ++i) {
        const int itemIndex = kSoundItems[static_cast<std::size_t>(i)];
        LoadSoundEffect(model.soundEffects[static_cast<std::size_t>(i)], itemIndex, model.item(itemIndex),
                        settings);
    }
    model.soundEffectCount = kSoundEffectCount;
    model.resolutionDivisors = {1, 2, 4, 8, 16};
    model.sliderResolution = settings.GetInt("SYSTEM", "SLIDER", 0);
    if (model.sliderResolution < 0 || model.sliderResolution > 4) model.sliderResolution = 0;
    model.currentLength = 0;
    model.currentSound = 0;
}

}  // namespace zanth
