#include "app/fail_safe.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QSocketNotifier>
#include <QWidget>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "control/log.h"
#include "link/emergency.h"
#include "panel/main_window.h"

namespace zanth {
namespace {

std::atomic<FailSafe*> gInstance{nullptr};
int gSignalWrite = -1;

void OnTerminationSignal(int sig) {
    const int savedErrno = errno;
    const char c = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(gSignalWrite, &c, 1);
    errno = savedErrno;
}

const char* SignalName(int sig) {
    switch (sig) {
        case SIGTERM:
            return "SIGTERM";
        case SIGINT:
            return "SIGINT";
        case SIGHUP:
            return "SIGHUP";
        case SIGQUIT:
            return "SIGQUIT";
        default:
            return "a signal";
    }
}

// ZANTH_SIGNAL_CLOSE_DELAY_MS: see fail_safe.h. Anything but a number of 0..10000 counts as 0.
int DelayBeforeCloseMs() {
    const char* text = std::getenv("ZANTH_SIGNAL_CLOSE_DELAY_MS");
    if (text == nullptr || *text == '\0') return 0;
    char* end = nullptr;
    errno = 0;
    const long ms = std::strtol(text, &end, 10);
    return errno == 0 && *end == '\0' && ms >= 0 && ms <= 10000 ? static_cast<int>(ms) : 0;
}

}  // namespace

FailSafe::FailSafe(QObject* parent)
    : QObject(parent), delayBeforeCloseMs_(DelayBeforeCloseMs()), guiThread_(std::this_thread::get_id()) {
    emergency::InstallCrashHandlers();
    gInstance = this;
    std::atexit(&FailSafe::AtExit);

    // The handlers only write a byte; the window is closed from the event loop, where everything may run.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipe_) != 0) {
        qCWarning(lcControl, "termination signals end the program at once: no socket pair (%s)",
                  std::strerror(errno));
        return;
    }
    ::fcntl(pipe_[0], F_SETFL, O_NONBLOCK);
    ::fcntl(pipe_[1], F_SETFL, O_NONBLOCK);  // a flood of signals must not block a handler
    gSignalWrite = pipe_[1];
    auto* notifier = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &FailSafe::OnSignal);
    struct sigaction sa {};
    sa.sa_handler = OnTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaction(sig, &sa, nullptr);
}

FailSafe::~FailSafe() {
    gInstance = nullptr;
    // The program is on its way out: a late signal of a storm must not end it by the default action while
    // the rest of the way (the settings saved, the display left) is still ahead.
    for (const int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) std::signal(sig, SIG_IGN);
}

void FailSafe::Watch(MainWindow* dialog) {
    dialog_ = dialog;
    if (dialog_ != nullptr && terminating_)
        QMetaObject::invokeMethod(dialog_, &MainWindow::Terminate, Qt::QueuedConnection);
}

void FailSafe::OnSignal() {
    char received[64];
    ssize_t n = 0;
    while ((n = ::read(pipe_[0], received, sizeof received)) > 0) {
        for (ssize_t i = 0; i < n; ++i) qCInfo(lcControl, "closing on %s", SignalName(received[i]));
    }
    if (!terminating_ && delayBeforeCloseMs_ > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayBeforeCloseMs_));
    terminating_ = true;
    // A box waiting for the user would keep the window's own event loop from ever ending.
    CloseBoxes(dialog_);
    if (dialog_ != nullptr) dialog_->Terminate();
}

void FailSafe::CloseBoxes(const QWidget* keep) {
    // Bounded: a box that refuses to close must not hold the program here.
    for (int i = 0; i < 64; ++i) {
        QWidget* box = QApplication::activePopupWidget();
        if (box == nullptr) box = QApplication::activeModalWidget();
        if (box == nullptr || box == keep) return;
        if (auto* dialog = qobject_cast<QDialog*>(box)) dialog->reject();
        if (box->isVisible()) box->close();
        if (box->isVisible()) box->hide();
    }
}

void FailSafe::AtExit() {
    static std::atomic<bool> ran{false};
    FailSafe* self = gInstance.load();
    if (ran.exchange(true) || self == nullptr || self->dialog_ == nullptr) return;
    if (std::this_thread::get_id() != self->guiThread_) {
        // The GUI thread still runs and owns the window: only the last message is ours to send.
        emergency::SendLastWord();
        return;
    }
    // Qt and Xlib end the process with exit() when the display goes away. The window cannot be touched any
    // more, but the session can still close as it does when the window closes.
    qCWarning(lcControl, "the program is being ended under its window; closing the session in place");
    self->dialog_->TearDownInPlace();
    const auto& saved = self->dialog_->saveResult();
    if (saved && !saved->ok) qCWarning(lcControl, "settings not saved: %s", saved->error.c_str());
}

}  // namespace zanth
