// Presses shorter than the time between two samples: every source reports the presses it saw begin, the
// tick shows each once, and the input mixer keeps each on the frames until a message has carried it. Here
// the session listens for them between ticks.
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

#include "control/input_mixer.h"
#include "control/link_traffic.h"
#include "control/session.h"
#include "input/devices.h"
#include "link/link_worker.h"
#include "link/wire.h"

namespace zanth {

void ControlSession::SetUpTaps() {
    connect(link_.get(), &LinkWorker::messageSent, this, [this](const SentMessage& m) {
        if (m.playedIndex >= 0) return;
        ControllerFrame frame{};
        std::copy(m.bytes.begin() + 1, m.bytes.end(), frame.begin());
        mixer_->Sent(frame);
    });
}

void ControlSession::WatchKeyEvents() {
    keyNotifier_.reset();
    const int fd = keyboard_->EventDescriptor();
    if (fd < 0) return;
    keyNotifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(keyNotifier_.get(), &QSocketNotifier::activated, this, [this] {
        mixer_->TakeKeyPresses(model_);
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

void ControlSession::NoteMousePress(const ItemSet& items) {
    mixer_->NoteMousePress(items);
    ResampleIfLate();
}

void ControlSession::ResampleIfLate() {
    // Only in the short time between the sample for a message and its leaving: the press rides it.
    const auto since = std::chrono::steady_clock::now() - sampledAt_;
    if (since > std::chrono::milliseconds(2 * kSampleLeadMs)) return;
    if (linkRunning() && !traffic_->playing()) link_->SetFrame(SampleFrame(), lastInputs_.batteryDisplay);
}

}  // namespace zanth
