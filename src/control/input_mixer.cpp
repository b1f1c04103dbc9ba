#include "control/input_mixer.h"

#include "link/frame_decode.h"

namespace zanth {

InputMixer::InputMixer(const ControllerModel& model, KeyboardDevice& keyboard, GamepadDevice& pad,
                       RemoteServer& remote)
    : decoder_(std::make_unique<FrameDecoder>(model)) {
    // The one place sources are added, in the order they fold: the remote clients last, since their sticks
    // are weighed against what the others made. A source that must override every other goes after them.
    auto padSource = std::make_unique<PadSource>(pad);
    pad_ = padSource.get();
    Register(std::move(padSource));
    auto mouse = std::make_unique<MouseSource>();
    mouse_ = mouse.get();
    Register(std::move(mouse));
    auto keys = std::make_unique<KeyboardSource>(keyboard);
    keyboard_ = keys.get();
    Register(std::move(keys));
    Register(std::make_unique<RemoteSource>(remote));
}

InputMixer::~InputMixer() = default;

void InputMixer::Register(std::unique_ptr<InputSource> source) {
    sources_.push_back(std::move(source));
}

void InputMixer::TakePresses(const ControllerModel& model) {
    for (const auto& source : sources_) latch_.Press(source->TakePresses(model));
}

void InputMixer::TakeKeyPresses(const ControllerModel& model) {
    latch_.Press(keyboard_->TakePresses(model));
}

void InputMixer::NoteMousePress(const ItemSet& items) {
    mouse_->Press(items);
    latch_.Press(items);
}

InputMixer::Readable InputMixer::TickItems(ControllerModel& model) {
    Readable readable;
    for (const auto& source : sources_) {
        ItemSet pressed;
        const bool ok = source->Tick(model, pressed);
        latch_.Press(pressed);
        if (source.get() == pad_) readable.gamepad = ok;
        if (source.get() == keyboard_) readable.keyboard = ok;
    }
    return readable;
}

void InputMixer::Sample(ControllerModel& now) {
    for (const auto& source : sources_) source->Sample(now);
    Sticks(now);
}

void InputMixer::Sticks(ControllerModel& model) {
    for (const auto& source : sources_) source->Sticks(model);
}

ControllerFrame InputMixer::FrameWithTaps(const ControllerModel& model) {
    const ItemSet taps = latch_.Sample();
    if (taps.none()) return BuildFrame(model);
    ControllerModel out = model;
    out.invalidate = nullptr;
    for (int i = 0; i < kInputItemCount; ++i) {
        ControllerItem& item = out.item(i);
        if (!taps.test(static_cast<std::size_t>(i)) || item.IsPressed()) continue;
        item.keyDown = 1;  // as a key's press, also on the stick items; the LED stays as it is
    }
    // A stick's byte is made again only for a tapped direction: otherwise it stays as the sources made it.
    auto stick = [&](int negative, int positive, int& value) {
        if (!taps.test(static_cast<std::size_t>(negative)) && !taps.test(static_cast<std::size_t>(positive)))
            return;
        value = StickByte(out.item(negative), out.item(positive), value);
    };
    stick(kItemStickLeft, kItemStickRight, out.leftStickX);
    stick(kItemStickUp, kItemStickDown, out.leftStickY);
    return BuildFrame(out);
}

void InputMixer::Sent(const ControllerFrame& frame) {
    const DecodedFrame d = decoder_->Decode(frame);
    ItemSet held(d.held & ((1u << kInputItemCount) - 1));
    // The left stick's items have no bits of their own: the stick's bytes tell them.
    held.set(kItemStickLeft, d.leftX < 128).set(kItemStickRight, d.leftX > 128);
    held.set(kItemStickUp, d.leftY < 128).set(kItemStickDown, d.leftY > 128);
    latch_.Sent(held);
}

}  // namespace zanth
