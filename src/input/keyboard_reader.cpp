#include "input/keyboard_reader.h"

#include <utility>

#include "input/keyboard_backend.h"

namespace zanth {

KeyboardReader::KeyboardReader() = default;
KeyboardReader::~KeyboardReader() {
    Shutdown();
}

bool KeyboardReader::Open(std::unique_ptr<KeyboardBackend> device, Backend kind,
                          std::function<bool()> windowIsActive, bool background) {
    if (!device) return false;
    // A foreground keyboard without a window to ask could never be read.
    if (!background && !windowIsActive) return false;
    device_ = std::move(device);
    backend_ = kind;
    acquisition_.Configure(std::move(windowIsActive), background);
    acquisition_.Acquire();  // may fail while the window is inactive; Poll asks again
    return true;
}

bool KeyboardReader::Create(std::function<bool()> windowIsActive, int background) {
    Shutdown();
    void* qtDisplay = nullptr;
    switch (ProbeQtDisplay(&qtDisplay)) {
        case QtDisplayKind::kNoApplication:
            return CreateX11(std::move(windowIsActive), background, "");
        case QtDisplayKind::kX11:
            if (Open(MakeX11KeyboardBeside(qtDisplay), Backend::kX11, windowIsActive, background == 1))
                return true;
            return CreateQtEvents(std::move(windowIsActive));
        case QtDisplayKind::kOther:
            break;
    }
    return CreateQtEvents(std::move(windowIsActive));
}

bool KeyboardReader::CreateX11(std::function<bool()> windowIsActive, int background,
                               const std::string& displayName) {
    Shutdown();
    return Open(MakeX11Keyboard(displayName), Backend::kX11, std::move(windowIsActive), background == 1);
}

bool KeyboardReader::CreateQtEvents(std::function<bool()> windowIsActive) {
    Shutdown();
    // Key events reach us only while our window has the focus: always the foreground level.
    return Open(MakeQtKeyboard(), Backend::kQtEvents, std::move(windowIsActive), false);
}

int KeyboardReader::Poll() {
    keys_.fill(0);
    if (!device_) return -1;
    ReadResult result = acquisition_.Check();
    if (result == ReadResult::kOk) {
        if (device_->Read(keys_)) return 0;
        keys_.fill(0);
        result = ReadResult::kError;
    }
    switch (result) {
        case ReadResult::kInputLost:
            acquisition_.Unacquire();
            device_->Forget();
            break;
        case ReadResult::kNotAcquired:
            acquisition_.Acquire();
            break;
        default:
            break;
    }
    return -1;
}

KeyStates KeyboardReader::TakePresses() {
    KeyStates keys{};
    if (!device_) return keys;
    device_->TakePresses(keys);  // drained either way, so that old presses never count later
    if (!acquisition_.readable()) keys.fill(0);
    return keys;
}

int KeyboardReader::EventDescriptor() const {
    return device_ ? device_->Descriptor() : -1;
}

void KeyboardReader::Shutdown() {
    acquisition_.Reset();
    device_.reset();
    backend_ = Backend::kNone;
    keys_.fill(0);
}

}  // namespace zanth
