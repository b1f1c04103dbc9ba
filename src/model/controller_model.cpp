#include "model/controller_model.h"

#include <map>
#include <string>

#include "base/app_context.h"
#include "base/text.h"
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

// Names of the analog axes, in AxisBindingIndex order.
struct AxisRow {
    const char* ja;
    const char* en;
};
constexpr AxisRow kAxisTable[4] = {
    {"左スティック X軸", "LEFT STICK X-Axis"},
    {"左スティック Y軸", "LEFT STICK Y-Axis"},
    {"右スティック X軸", "RIGHT STICK X-Axis"},
    {"右スティック Y軸", "RIGHT STICK Y-Axis"},
};

}  // namespace

void ControllerModel::FlipLed() {
    ControllerItem& led = ledItem();
    led.latched = led.latched == 1 ? 0 : 1;
    InvalidateItem(led);
}

std::string_view ItemIniKey(int index) {
    return (index >= 0 && index < kItemCount) ? kItemTable[index].iniKey : std::string_view{};
}

const char* ItemTableName(int index, Language language) {
    if (index < 0 || index >= kItemCount) return "";
    return language == Language::kJapanese ? kItemTable[index].ja : kItemTable[index].en;
}

void BuildItem(ControllerItem& item, const AppContext& app, const StoredBinding& stored,
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
    item.keyCode = stored.keyCode.value_or(item.defaultKeyCode);
    item.defaultPadButton = defaultPadButton;
    item.padButton = stored.padButton.value_or(item.defaultPadButton);
}

namespace {

template <typename Value>
Value StoredFor(const std::map<std::string, Value>& stored, std::string_view iniKey) {
    const auto it = stored.find(std::string(iniKey));
    return it == stored.end() ? Value{} : it->second;
}

void LoadSoundEffect(SoundEffect& effect, int itemIndex, const StoredSound& stored) {
    effect.item = itemIndex;
    effect.file = stored.file;
    effect.name = stored.name;
    effect.enabled = stored.enabled;
    effect.length = stored.length;
    effect.repeat = stored.repeat;
    effect.repeatMode = stored.repeatMode;
}

}  // namespace

void BuildModel(ControllerModel& model, const AppContext& app, const Settings& settings) {
    auto invalidate = std::move(model.invalidate);
    model = ControllerModel{};
    model.invalidate = std::move(invalidate);

    for (int i = 0; i < kItemCount; ++i) {
        const ItemRow& r = kItemTable[i];
        std::optional<std::string_view> key;
        if (r.defaultKey) key = r.defaultKey;
        BuildItem(model.item(i), app, StoredFor(settings.bindings, r.iniKey), app.japanese() ? r.ja : r.en,
                  r.iniKey, r.up, r.down, r.left, r.top, r.width, r.height, r.defaultPadButton, key,
                  r.togglesLed);
    }
    for (std::size_t i = 0; i < std::size(kAxisTable); ++i) {
        model.axisBindings[i].axisIndex = settings.axes[i];
        model.axisBindings[i].displayName = app.Text(kAxisTable[i].ja, kAxisTable[i].en);
    }
    for (int i = 0; i < kSoundEffectCount; ++i) {
        const int itemIndex = kSoundItems[static_cast<std::size_t>(i)];
        LoadSoundEffect(model.soundEffects[static_cast<std::size_t>(i)], itemIndex,
                        StoredFor(settings.sounds, kItemTable[itemIndex].iniKey));
    }
    model.soundEffectCount = kSoundEffectCount;
    model.resolutionDivisors = {1, 2, 4, 8, 16};
    // The slider resolution indexes resolutionDivisors: never trust it to be in range.
    const int slider = settings.sliderResolution;
    model.sliderResolution =
        (slider >= 0 && slider < static_cast<int>(model.resolutionDivisors.size())) ? slider : 0;
    model.currentLength = 0;
    model.currentSound = 0;
    model.textEncoding = settings.encoding;
    model.pad = settings.pad;
    model.rumble = settings.rumble;
}

}  // namespace zanth
