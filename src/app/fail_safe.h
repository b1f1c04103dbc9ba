#pragma once
#include <QObject>
#include <thread>

class QWidget;

namespace zanth {

class MainWindow;

// Every way out of the program other than the window's CLOSE ends with the robot's neutral frame:
// - SIGTERM, SIGINT, SIGHUP and SIGQUIT close the open boxes and the window the ordinary way (neutral frame,
//   settings saved), also while a modal box is up; further ones change nothing, and once this object is
//   gone they are ignored until the process has ended, so that no storm of them cuts the way out short;
// - an exit() from inside a library (Qt and Xlib end the process so when the display goes away) runs the
//   window's tear-down in place when it comes on the GUI thread, else sends the crash's last message;
// - crash signals and fatal Qt messages send the last message prepared by the link (link/emergency.h);
//   nothing is saved then, since the program's state can no longer be trusted.
// One per process, made right after the QApplication.
//
// For tests of signal storms, ZANTH_SIGNAL_CLOSE_DELAY_MS (0..10000) holds the GUI thread that long after the
// first termination signal, before the window closes and the settings are saved.
class FailSafe : public QObject {
    Q_OBJECT
  public:
    explicit FailSafe(QObject* parent = nullptr);
    ~FailSafe() override;
    FailSafe(const FailSafe&) = delete;
    FailSafe& operator=(const FailSafe&) = delete;

    // The window that a termination signal closes and that an exit() tears down; null once it has closed.
    // A signal that came before the window was watched closes it as soon as its event loop runs.
    void Watch(MainWindow* dialog);
    // A termination signal came: nothing may wait for the user any more.
    bool terminating() const { return terminating_; }

    // Rejects every modal box and closes every popup above `keep` (innermost first).
    static void CloseBoxes(const QWidget* keep);

  private:
    void OnSignal();
    static void AtExit();

    int pipe_[2] = {-1, -1};
    MainWindow* dialog_ = nullptr;
    bool terminating_ = false;
    int delayBeforeCloseMs_ = 0;
    std::thread::id guiThread_;
};

}  // namespace zanth
