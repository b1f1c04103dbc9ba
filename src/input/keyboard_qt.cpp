// Qt back-end of KeyboardReader, for platforms without an X11 display: the keys are followed from the key
// events the application receives. Also probes what display the running Qt application has.
#include <QtGui/qguiapplication_platform.h>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QObject>
#include <QPointer>

#include "input/keyboard_backend.h"

namespace zanth {
namespace {

constexpr std::uint32_t kXkbKeycodeOffset = 8;

// Watches every key event of the application. Events are never consumed. Auto-repeats are skipped: a
// repeated key is simply still down.
class KeyTracker final : public QObject {
  public:
    KeyStates held{};
    KeyStates pressed{};  // since the reader last took them

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
            const auto* key = static_cast<const QKeyEvent*>(event);
            const int code = ScanCodeFromNative(key->nativeScanCode());
            if (code >= 0 && !key->isAutoRepeat()) {
                held[static_cast<std::size_t>(code)] = type == QEvent::KeyPress ? kKeyDownByte : 0;
                if (type == QEvent::KeyPress) pressed[static_cast<std::size_t>(code)] = kKeyDownByte;
            }
        } else if (type == QEvent::ApplicationDeactivate) {
            // Releases that happen elsewhere never reach us.
            held.fill(0);
        }
        return QObject::eventFilter(watched, event);
    }
};

class QtKeyboard final : public KeyboardBackend {
  public:
    QtKeyboard() : tracker_(new KeyTracker) { QCoreApplication::instance()->installEventFilter(tracker_); }
    ~QtKeyboard() override { delete tracker_.data(); }  // also removes the filter; null if Qt went first
    QtKeyboard(const QtKeyboard&) = delete;
    QtKeyboard& operator=(const QtKeyboard&) = delete;

    bool Read(KeyStates& keys) override {
        if (!tracker_) return false;
        keys = tracker_->held;
        return true;
    }
    void Forget() override {
        if (!tracker_) return;
        tracker_->held.fill(0);
        tracker_->pressed.fill(0);
    }
    void TakePresses(KeyStates& keys) override {
        if (!tracker_) return;
        for (std::size_t i = 0; i < keys.size(); ++i) keys[i] |= tracker_->pressed[i];
        tracker_->pressed.fill(0);
    }

  private:
    QPointer<KeyTracker> tracker_;
};

}  // namespace

int ScanCodeFromNative(std::uint32_t nativeScanCode) {
    if (nativeScanCode < kXkbKeycodeOffset || nativeScanCode - kXkbKeycodeOffset > 255) return -1;
    return static_cast<int>(nativeScanCode - kXkbKeycodeOffset);
}

std::unique_ptr<KeyboardBackend> MakeQtKeyboard() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return nullptr;
    return std::make_unique<QtKeyboard>();
}

QtDisplayKind ProbeQtDisplay(void** xlibDisplay) {
    *xlibDisplay = nullptr;
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return QtDisplayKind::kNoApplication;
#if QT_CONFIG(xcb)
    // The offscreen platform offers this interface too, but with no display behind it.
    if (auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>(); x11 && x11->display()) {
        *xlibDisplay = x11->display();
        return QtDisplayKind::kX11;
    }
#endif
    return QtDisplayKind::kOther;
}

}  // namespace zanth
