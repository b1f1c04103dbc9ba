// GamepadReader against SDL's virtual joysticks: real SDL, real unplugging and plugging in.
#include "input/gamepad_reader.h"

#include <SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "input/apply.h"
#include "test_model.h"

namespace zanth {
namespace {

constexpr auto kAlwaysActive = [] { return true; };

// Holds the joystick subsystem, as another SDL user of the program might, and plugs in virtual gamepads.
// Skips where a real joystick is attached: it would be "the first one".
class GamepadReaderTest : public testing::Test {
  protected:
    void SetUp() override {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_JOYSTICK), 0) << SDL_GetError();
        SDL_JoystickUpdate();
        if (SDL_NumJoysticks() > 0) GTEST_SKIP() << "a real joystick is attached";
    }
    void TearDown() override { SDL_QuitSubSystem(SDL_INIT_JOYSTICK); }  // closes and unplugs them all

    // Plugs in a gamepad and returns the handle through which the test moves its controls.
    SDL_Joystick* Plug(Uint16 axes = 8, Uint16 hats = 1, Uint16 product = 1) {
        SDL_VirtualJoystickDesc desc{};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_UNKNOWN;  // no mapping: read as a raw joystick
        desc.naxes = axes;
        desc.nbuttons = 20;
        desc.nhats = hats;
        desc.vendor_id = 0x7a01;  // with a vendor, SDL makes the GUID from vendor and product
        desc.product_id = product;
        const int index = SDL_JoystickAttachVirtualEx(&desc);
        EXPECT_GE(index, 0) << SDL_GetError();
        return SDL_JoystickOpen(index);
    }
    void Unplug(SDL_Joystick* j) {
        for (int i = 0; i < SDL_NumJoysticks(); ++i) {
            if (SDL_JoystickGetDeviceInstanceID(i) == SDL_JoystickInstanceID(j)) SDL_JoystickDetachVirtual(i);
        }
        SDL_JoystickClose(j);
    }
};

TEST_F(GamepadReaderTest, ReadsAxesSlidersHatsAndButtons) {
    SDL_Joystick* pad = Plug();
    GamepadReader joystick;
    ASSERT_TRUE(joystick.Create(kAlwaysActive, 1));
    const Sint16 axes[8] = {-32768, 32767, 0, -1, 100, -100, 1000, -32768};
    for (int a = 0; a < 8; ++a) SDL_JoystickSetVirtualAxis(pad, a, axes[a]);
    SDL_JoystickSetVirtualButton(pad, 3, SDL_PRESSED);
    const std::pair<Uint8, int> hats[] = {{SDL_HAT_CENTERED, -1},  {SDL_HAT_UP, 0},
                                          {SDL_HAT_RIGHTUP, 4500}, {SDL_HAT_RIGHTDOWN, 13500},
                                          {SDL_HAT_LEFT, 27000},   {SDL_HAT_LEFTUP, 31500}};
    for (auto [hat, pov] : hats) {
        SDL_JoystickSetVirtualHat(pad, 0, hat);
        ASSERT_EQ(joystick.Poll(), 0);
        EXPECT_EQ(joystick.state.pov[0], pov) << int(hat);
    }
    const GamepadState& s = joystick.state;
    for (int a = 0; a < 6; ++a) EXPECT_EQ(s.axes[static_cast<std::size_t>(a)], axes[a] + 32768) << a;
    EXPECT_EQ(s.sliders[0], 1000 + 32768);
    EXPECT_EQ(s.sliders[1], 0);
    EXPECT_EQ(s.pov[1], kPovCentred);  // hats the device lacks are centred
    for (int b = 0; b < 128; ++b) EXPECT_EQ(s.buttons[static_cast<std::size_t>(b)], b == 3 ? 128 : 0) << b;

    Plug(/*axes=*/2, /*hats=*/0, /*product=*/2);  // a second gamepad is ignored
    ASSERT_TRUE(joystick.Create(kAlwaysActive, 1));
    ASSERT_EQ(joystick.Poll(), 0);
    EXPECT_EQ(joystick.state.axes[0], 0);
    EXPECT_EQ(joystick.state.buttons[3], 128);
}

// A button or a hat pushed and let go between two polls is never in the state: SDL's events tell it, once.
TEST_F(GamepadReaderTest, PressesBetweenTwoPollsAreTakenOnce) {
    SDL_Joystick* pad = Plug();
    GamepadReader joystick;
    ASSERT_TRUE(joystick.Create(kAlwaysActive, 1));
    ASSERT_EQ(joystick.Poll(), 0);
    EXPECT_FALSE(joystick.PressWaiting());
    auto change = [](auto&&... set) { (set(), ...), SDL_JoystickUpdate(); };
    change([&] { SDL_JoystickSetVirtualButton(pad, 3, SDL_PRESSED); });
    EXPECT_TRUE(joystick.PressWaiting());  // asked again just before a message, the press is seen
    change([&] { SDL_JoystickSetVirtualButton(pad, 3, SDL_RELEASED); });
    change([&] { SDL_JoystickSetVirtualHat(pad, 0, SDL_HAT_UP); });
    change([&] { SDL_JoystickSetVirtualHat(pad, 0, SDL_HAT_CENTERED); });
    ASSERT_EQ(joystick.Poll(), 0);
    EXPECT_EQ(joystick.state.buttons[3], 0);
    const std::vector<GamepadState> presses = joystick.TakePresses();
    ASSERT_EQ(presses.size(), 2u);
    EXPECT_EQ(presses[0].buttons[3], kButtonDownByte);
    EXPECT_EQ(presses[1].pov[0], 0);
    EXPECT_TRUE(joystick.TakePresses().empty());
    EXPECT_FALSE(joystick.PressWaiting());
}

TEST_F(GamepadReaderTest, AxesTheDeviceLacksReadCentred) {
    Plug(/*axes=*/2, /*hats=*/0);
    GamepadReader joystick;
    ASSERT_TRUE(joystick.Create(kAlwaysActive, 1));
    ASSERT_EQ(joystick.Poll(), 0);
    EXPECT_EQ(joystick.state.axes[2], kAxisCentre);
    EXPECT_EQ(joystick.state.sliders[0], kAxisCentre);
    EXPECT_EQ(joystick.state.pov[0], kPovCentred);
}

// Unplugging makes Poll fail and the tick lets go of what the gamepad held. Plugged in again, the same
// gamepad is read again after one poll that finds it; a gamepad plugged in later is found by Create.
TEST_F(GamepadReaderTest, UnplugReleasesAndReplugRecovers) {
    SDL_Joystick* pad = Plug();
    test::TestModel t;
    ResetRightStickHistory();
    GamepadReader joystick;
    ASSERT_TRUE(joystick.Create(kAlwaysActive, 1));
    SDL_JoystickSetVirtualButton(pad, 2, SDL_PRESSED);  // item "1"
    SDL_JoystickSetVirtualAxis(pad, 2, 32767);          // right stick X
    ASSERT_EQ(joystick.Poll(), 0);
    ApplyGamepad(t.model, joystick);
    ASSERT_EQ(t.item(kItem1).padDown, 1);
    ASSERT_EQ(joystick.padRX, 255);

    Unplug(pad);
    ASSERT_EQ(joystick.Poll(), -1);
    ReleaseGamepadItems(t.model, joystick);
    EXPECT_EQ(t.item(kItem1).padDown, 0);
    EXPECT_EQ(joystick.padRX, 128);
    EXPECT_EQ(joystick.padRXChanged, 1);
    EXPECT_EQ(joystick.state.buttons[2], 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(joystick.Poll(), -1);

    SDL_JoystickSetVirtualButton(Plug(), 5, SDL_PRESSED);
    EXPECT_EQ(joystick.Poll(), -1);
    ASSERT_EQ(joystick.Poll(), 0);
    EXPECT_EQ(joystick.state.buttons[5], 128);

    Unplug(SDL_JoystickFromInstanceID(SDL_JoystickGetDeviceInstanceID(0)));
    GamepadReader later;
    EXPECT_FALSE(later.Create(kAlwaysActive, 1));
    EXPECT_EQ(later.Poll(), -1);
    Plug();
    ASSERT_TRUE(later.Create(kAlwaysActive, 1));
    EXPECT_EQ(later.Poll(), 0);
}

// Pad B chosen: pad A never drives, B is found again at another index after replugging, and while B is
// absent no other pad stands in for it. "Any pad" takes the first, as without a choice.
TEST_F(GamepadReaderTest, AChosenPadIsTheOnlyOneReadWhereverItIs) {
    SDL_Joystick* a = Plug(8, 1, /*product=*/1);
    SDL_Joystick* b = Plug(8, 1, /*product=*/2);
    const std::vector<PadInfo> pads = GamepadReader::ConnectedPads();
    ASSERT_EQ(pads.size(), 2u);
    EXPECT_NE(pads[0].id.guid, pads[1].id.guid);
    EXPECT_EQ(pads[1].shortId, "7a01:0002");
    SDL_JoystickSetVirtualButton(a, 1, SDL_PRESSED);
    auto pressed = [](GamepadReader& r) {
        return r.Poll() == 0 ? std::pair{r.state.buttons[1] != 0, r.state.buttons[2] != 0}
                             : std::pair{false, false};
    };

    GamepadReader any, chosen;
    chosen.Choose(pads[1].id);
    ASSERT_TRUE(any.Create(kAlwaysActive, 1));
    ASSERT_TRUE(chosen.Create(kAlwaysActive, 1));
    EXPECT_EQ(pressed(any), std::pair(true, false));
    EXPECT_EQ(pressed(chosen), std::pair(false, false));
    SDL_JoystickSetVirtualButton(b, 2, SDL_PRESSED);
    EXPECT_EQ(pressed(chosen), std::pair(false, true));

    Unplug(b);
    EXPECT_EQ(chosen.Poll(), -1);
    EXPECT_FALSE(chosen.Create(kAlwaysActive, 1));  // pad A is there, and is not the one
    Unplug(a);
    a = Plug(8, 1, 1);
    b = Plug(8, 1, 2);
    SDL_JoystickSetVirtualButton(a, 1, SDL_PRESSED);
    SDL_JoystickSetVirtualButton(b, 2, SDL_PRESSED);
    ASSERT_TRUE(chosen.Create(kAlwaysActive, 1));
    EXPECT_EQ(pressed(chosen), std::pair(false, true));

    chosen.Choose({});  // any pad again: the open one stays
    EXPECT_EQ(pressed(chosen), std::pair(false, true));
    chosen.Choose(pads[0].id);  // another: the open one is let go
    EXPECT_EQ(chosen.Poll(), -1);
    ASSERT_TRUE(chosen.Create(kAlwaysActive, 1));
    EXPECT_EQ(pressed(chosen), std::pair(true, false));
}

TEST_F(GamepadReaderTest, ForegroundReadsOnlyWhileTheWindowIsActive) {
    Plug();
    bool active = false;
    GamepadReader foreground, background;
    ASSERT_TRUE(foreground.Create([&] { return active; }, 0));
    ASSERT_TRUE(background.Create([&] { return active; }, 1));
    EXPECT_EQ(foreground.Poll(), -1);
    EXPECT_EQ(background.Poll(), 0);
    active = true;
    EXPECT_EQ(foreground.Poll(), -1);  // acquires again
    EXPECT_EQ(foreground.Poll(), 0);
    active = false;
    EXPECT_EQ(foreground.Poll(), -1);  // input lost
    EXPECT_EQ(foreground.Poll(), -1);
    EXPECT_EQ(background.Poll(), 0);
    EXPECT_FALSE(foreground.Create(nullptr, 0));  // no window to ask: could never be read
    foreground.Shutdown();
    EXPECT_EQ(foreground.Poll(), -1);
}

// Failed searches give back everything they took: SDL's joystick subsystem is left as it was, whether
// somebody else holds it or nobody does.
TEST(GamepadReaderRetry, FailedCreatesLeaveNothingBehind) {
    ASSERT_EQ(SDL_WasInit(SDL_INIT_JOYSTICK), 0u);
    {
        GamepadReader joystick;
        for (int attempt = 0; attempt < 30; ++attempt) ASSERT_FALSE(joystick.Create(kAlwaysActive, 1));
        EXPECT_NE(SDL_WasInit(SDL_INIT_JOYSTICK), 0u);  // kept ready to notice a gamepad plugged in later
    }
    // However many searches, the object held one reference only: it is gone with the object.
    EXPECT_EQ(SDL_WasInit(SDL_INIT_JOYSTICK), 0u);
}

// Twins of one model share a GUID: their place tells them apart, and where it cannot, none is taken.
TEST(PickPad, ByModelThenPlace) {
    const std::vector<PadChoice> connected = {
        {"g1", "", "usb1/1-1"}, {"g2", "", "usb1/1-2"}, {"g1", "", "usb1/1-3"}};
    const std::pair<PadChoice, int> cases[] = {
        {{"g2", "", "usb1/1-2"}, 1}, {{"g2", "", "usb2/2-1"}, 1},   // the only one of its model: moved
        {{"g1", "", "usb1/1-3"}, 2}, {{"g1", "", "usb2/2-1"}, -1},  // twins, none where it was
        {{"g1", "", ""}, 0},         {{"g3", "", ""}, -1},
    };
    for (const auto& [wanted, index] : cases) EXPECT_EQ(PickPad(connected, wanted), index) << wanted.place;
}

// The place of a pad: the input device's own id, else the USB socket it hangs on.
TEST(PadPlace, FromTheSystemsTree) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("zanth-place-" + std::to_string(::getpid()));
    const fs::path usb = root / "sys/devices/pci0000:00/0000:00:14.0";
    auto device = [&](const std::string& link, const fs::path& target, const std::string& uniq) {
        fs::create_directories(target);
        std::ofstream(target / "uniq") << uniq;
        fs::create_directories(root / "sys/class" / link);
        fs::create_directory_symlink(target, root / "sys/class" / link / "device");
    };
    device("input/event5", usb / "usb1/1-2/1-2:1.0/input/input7", "aa:bb:cc:dd:ee:ff\n");
    device("input/event6", usb / "usb1/1-2.3/1-2.3:1.0/input/input8", "");
    device("hidraw/hidraw3", usb / "usb3/3-1/3-1:1.0/0003:045E:028E.0005", "");
    const std::pair<const char*, const char*> cases[] = {
        {"/dev/input/event5", "aa:bb:cc:dd:ee:ff"},
        {"/dev/input/event6", "usb1/1-2.3"},
        {"/dev/hidraw3", "usb3/3-1"},
        {"/dev/input/event9", ""},
    };
    for (auto [path, place] : cases)
        EXPECT_EQ(GamepadReader::PlaceOfDevice(path, root.string()), place) << path;
    fs::remove_all(root);
}

TEST(JoystickNames, ListsAndLookupsInBothLanguages) {
    GamepadReader ja(Language::kJapanese), en(Language::kEnglish);
    EXPECT_EQ(ja.ButtonName(-1), "なし");
    EXPECT_EQ(ja.ButtonName(19), "ボタン -20");
    EXPECT_EQ(ja.AxisName(3), "RX軸");
    EXPECT_EQ(en.ButtonName(0), "Button -1");
    EXPECT_EQ(en.AxisName(5), "RZ-Axis");
    const std::pair<int, int> rows[] = {{-1, 0}, {0, 1}, {5, 6}, {19, 20}, {20, -1}, {-999, -1}};
    for (auto [code, button] : rows) {  // code, its ButtonIndex
        EXPECT_EQ(en.ButtonIndex(code), button) << code;
        EXPECT_EQ(en.ButtonName(code).has_value(), button >= 0) << code;
        EXPECT_EQ(en.AxisIndex(code), code >= -1 && code <= 5 ? code + 1 : -1) << code;
        EXPECT_EQ(en.AxisName(code).has_value(), code >= -1 && code <= 5) << code;
    }
}

}  // namespace
}  // namespace zanth
