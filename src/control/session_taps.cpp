// Presses shorter than the time between two samples: every source reports the presses it saw begin, the
// tick shows each once, and the latch keeps each on the frames until a message has carried it.
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "control/link_traffic.h"
#include "control/session.h"
#include "input/apply.h"
#include "input/devices.h"
#include "link/frame_decode.h"
#include "link/link_worker.h"
#include "link/wire.h"

namespace zanth {
namespace {

// The items that a set of keys, taken as held, presses.
ItemSet ItemsOfKeys(const ControllerModel& model, const KeyStates& keys) {
    ItemSet items;
    for (int i = 0; i < kInputItemCount; ++i) {
        const int code = model.item(i).keyCode;
        if (code >= 0 && code < 256 && keys[static_cast<std::size_t>(code)] != 0)
            items.set(static_cast<std::size_t>(i));
    }
    return items;
}

// The buttons and hat directions the gamepad readings press, by the bindings of `model`.
ItemSet ItemsOfPadReadings(const ControllerModel& model, const std::vector<GamepadState>& readings) {
    ItemSet items;
    if (readings.empty()) return items;
    ControllerModel scratch = model;
    scratch.invalidate = nullptr;
    for (const GamepadState& reading : readings) {
        for (ControllerItem& item : scratch.inputItems()) item.padDown = 0;
        ApplyPadButtons(scratch, reading);
        ApplyPov(scratch, reading);
        for (int i = 0; i < kInputItemCount; ++i)
            if (scratch.item(i).padDown != 0) items.set(static_cast<std::size_t>(i));
    }
    return items;
}

KeyStates Either(const KeyStates& a, const KeyStates& b) {
    KeyStates out{};
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = a[i] | b[i];
    return out;
}

}  // namespace

void ControlSession::SetUpTaps() {
    decoder_ = std::make_unique<FrameDecoder>(model_);
    connect(link_.get(), &LinkWorker::messageSent, this, [this](const SentMessage& m) {
        if (m.playedIndex >= 0) return;
        ControllerFrame frame{};
        std::copy(m.bytes.begin() + 1, m.bytes.end(), frame.begin());
        const DecodedFrame d = decoder_->Decode(frame);
        ItemSet held(d.held & ((1u << kInputItemCount) - 1));
        // The left stick's items have no bits of their own: the stick's bytes tell them.
        held.set(kItemStickLeft, d.leftX < 128).set(kItemStickRight, d.leftX > 128);
        held.set(kItemStickUp, d.leftY < 128).set(kItemStickDown, d.leftY > 128);
        latch_.Sent(held);
    });
}

void ControlSession::WatchKeyEvents() {
    keyNotifier_.reset();
    const int fd = keyboard_->EventDescriptor();
    if (fd < 0) return;
    keyNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(keyNotifier_.get(), &QSocketNotifier::activated, this, [this] {
        TakeKeyTaps();
        ResampleIfLate();
    });
}

// A pad press in the lead before a message is found by asking the pad every couple of milliseconds until the
// message leaves: keys and clicks have events for that, a pad only its state.
void ControlSession::WatchPadBeforeMessage() {
    if (model_.gamepadReady == 0) return;
    if (padLead_ == nullptr) {
        padLead_ = new QTimer(this);
        padLead_->setTimerType(Qt::PreciseTimer);
        padLead_->setInterval(2);
        connect(padLead_, &QTimer::timeout, this, [this] {
            if (std::chrono::steady_clock::now() - sampledAt_ >= std::chrono::milliseconds(kSampleLeadMs))
                padLead_->stop();
            else if (gamepad_->PressWaiting())
                ResampleIfLate();
        });
    }
    padLead_->start();
}

void ControlSession::TakeKeyTaps() {
    const KeyStates keys = keyboard_->TakePresses();
    if (std::none_of(keys.begin(), keys.end(), [](std::uint8_t k) { return k != 0; })) return;
    keyTaps_ = Either(keyTaps_, keys);
    latch_.Press(ItemsOfKeys(model_, keys));
}

// The pad's presses come with its poll (SDL's events of that update): taken after it.
void ControlSession::TakePadTaps() {
    const ItemSet pad = ItemsOfPadReadings(model_, gamepad_->TakePresses());
    padTaps_ |= pad;
    latch_.Press(pad);
}

void ControlSession::TakeTaps() {
    TakeKeyTaps();
    const ItemSet remote = remote_->TakePresses();
    remoteTaps_ |= remote;
    latch_.Press(remote);
    TakePadTaps();
}

void ControlSession::NoteMousePress(const ItemSet& items) {
    mouseTaps_ |= items;
    latch_.Press(items);
    ResampleIfLate();
}

void ControlSession::ResampleIfLate() {
    // Only in the short time between the sample for a message and its leaving: the press rides it.
    const auto since = std::chrono::steady_clock::now() - sampledAt_;
    if (since > std::chrono::milliseconds(2 * kSampleLeadMs)) return;
    if (linkRunning() && !traffic_->playing()) link_->SetFrame(SampleFrame(), lastInputs_.batteryDisplay);
}

KeyStates ControlSession::KeysWithTaps() {
    return Either(keyboard_->keys(), std::exchange(keyTaps_, KeyStates{}));
}

RemoteInput ControlSession::RemoteWithTaps() {
    RemoteInput input = remote_->Input();
    input.items |= std::exchange(remoteTaps_, ItemSet{});
    return input;
}

void ControlSession::ShowPadAndMouseTaps() {
    TakePadTaps();
    // The gamepad's flags are read afresh every tick: a tap set here lasts this one tick.
    const ItemSet pad = std::exchange(padTaps_, ItemSet{});
    for (int i = 0; i < kInputItemCount; ++i) {
        ControllerItem& item = model_.item(i);
        if (!pad.test(static_cast<std::size_t>(i)) || item.padDown != 0) continue;
        item.padDown = 1;
        model_.InvalidateItem(item);
    }
    // The mouse's flags follow its events: a click the tick never saw held is held for this tick, then let go
    // (the press flipped the LED already).
    const ItemSet mouse = std::exchange(mouseTaps_, ItemSet{});
    for (int i = 0; i < kInputItemCount; ++i) {
        ControllerItem& item = model_.item(i);
        const auto bit = static_cast<std::size_t>(i);
        const bool letGo = mouseHeldByTick_.test(bit) && !mouse.test(bit) && item.mouseDown != 0;
        const bool show = mouse.test(bit) && item.mouseDown == 0;
        mouseHeldByTick_.set(bit, show);
        if (letGo || show) {
            item.mouseDown = show ? 1 : 0;
            model_.InvalidateItem(item);
        }
    }
}

ControllerFrame ControlSession::FrameWithTaps(const ControllerModel& model) {
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

}  // namespace zanth
