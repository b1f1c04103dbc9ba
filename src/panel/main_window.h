#pragma once
#include <QDialog>
#include <QEvent>
#include <QHash>
#include <QPixmap>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "base/app_context.h"
#include "control/session.h"
#include "model/ini_file.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;
class QTreeWidget;
class QTreeWidgetItem;

namespace zanth {

class BatteryMeter;
class LinkIndicator;
class LinkMonitorWindow;
class MatchDialog;
class RemoteWindow;

// The main window: the controller picture with its controls. The controller itself (model, devices, sound,
// link, tick rules) is the ControlSession it is given and owns; the window builds the controls, paints,
// routes the mouse and keys to the session, and shows the session's state.
class MainWindow : public QDialog {
    Q_OBJECT
  public:
    // `session` comes with its devices (control/devices_factory.h): the window names none of them.
    MainWindow(const AppContext& app, std::unique_ptr<ControlSession> session, QWidget* parent = nullptr);
    ~MainWindow() override;

    ControlSession& session() { return *session_; }
    ControllerModel& model() { return session_->model(); }
    const AppContext& app() const { return app_; }
    bool connected() const { return session_->connected(); }
    // Result of the settings save at tear-down (empty until the window has closed).
    const std::optional<SaveResult>& saveResult() const { return saveResult_; }
    // Where the window opens on a screen's `available` room while `others` copies of the program run.
    static QPoint CascadePlace(const QRect& available, const QSize& size, int others);

    void NeutralX();
    void NeutralY();
    void ControllerTick();
    void ConnectOrDisconnect();
    void OpenManual();
    void ShowAbout();
    void OnOperationSetting();
    void OnSoundSetting();
    // The link monitor, recording and playback (the help menu's entries; the files chosen in a dialog).
    void OpenMonitor();
    // The remote-control window (the help menu's entry; never a key).
    void OpenRemote();
    bool RecordTo(const QString& path);
    bool PlayFrom(const QString& path);
    void StopRecordOrPlay();
    // "Save Settings As": the current settings, as closing would save them, into a new file (chosen in a
    // dialog) to start another window from. A file another window uses is refused.
    void SaveSettingsAs();
    bool SaveSettingsTo(const QString& path);

    // Controls by their role; tests reach them through these.
    QComboBox* portCombo() const { return portCombo_; }
    QPushButton* connectButton() const { return connectButton_; }
    QPushButton* operationButton() const { return operationButton_; }
    QPushButton* soundButton() const { return soundButton_; }
    QPushButton* closeButton() const { return closeButton_; }
    QPushButton* okButton() const { return okButton_; }
    QPushButton* xButton() const { return xButton_; }
    QLineEdit* axisLine() const { return axisLine_; }
    QLineEdit* keyboardStatus() const { return keyboardStatus_; }
    QLineEdit* gamepadStatus() const { return gamepadStatus_; }
    QCheckBox* legendCheck() const { return legendCheck_; }
    QCheckBox* selfNeutralCheck() const { return selfNeutralCheck_; }
    QCheckBox* batteryCheck() const { return batteryCheck_; }
    QComboBox* resolutionCombo() const { return resolutionCombo_; }
    QSlider* sliderX() const { return sliderX_; }
    QSlider* sliderY() const { return sliderY_; }
    QTreeWidget* soundList() const { return soundList_; }
    BatteryMeter* batteryMeter() const { return batteryMeter_; }
    // "No reply" while the robot does not answer, or why the port was lost.
    QLabel* linkNote() const { return linkNote_; }
    QMenu* helpMenu() const { return helpMenu_; }
    LinkMonitorWindow* monitorWindow() const { return monitor_; }
    RemoteWindow* remoteWindow() const { return remote_; }
    // "Remote: 2" while browsers or scripts that said hello are connected; hidden when none is.
    QLabel* remoteMark() const { return remoteMark_; }
    // The lamp that blinks with every message.
    LinkIndicator* linkIndicator() const { return indicator_; }
    // "REC" while recording, "PLAY" while a session plays; hidden otherwise.
    QLabel* activityMark() const { return activityMark_; }
    // What a played session is, or how it ended, in the link note's place.
    QLabel* playbackNote() const { return playbackNote_; }
    // The error the last failed Record or Play showed.
    const QString& lastLinkError() const { return lastLinkError_; }

    // The error text the last failed connect showed (also shown in a message box unless boxes are off).
    const QString& lastConnectError() const { return lastConnectError_; }
    // The text of the last other message the window showed (a manual that no program can show).
    const QString& lastMessage() const { return lastMessage_; }
    // Tests switch modal message boxes off; the text is still kept in lastConnectError() or lastMessage().
    void setMessageBoxesEnabled(bool on) { messageBoxes_ = on; }
    // The STOP button, the banner (who stopped the robot and when) with its Release / Enable, and
    // Enable / Disable.
    QPushButton* stopButton() const { return stopButton_; }
    QLabel* stopBanner() const { return stopBanner_; }
    // The practice match's dialog (once opened) and the time left the window shows.
    MatchDialog* matchDialog() const { return match_; }
    QLabel* matchTime() const { return matchTime_; }
    QPushButton* releaseButton() const { return releaseButton_; }
    QPushButton* enableButton() const { return enableButton_; }
    // Tests answer the question before a stop is released themselves.
    void setReleaseAnswer(std::function<bool(const QString&)> answer) { confirmRelease_ = std::move(answer); }

    void done(int result) override;
    // Escape, CLOSE and the window's close button: while connected they ask first.
    void reject() override;
    // Closes without asking (a termination signal): the robot still gets its neutral frame.
    void Terminate();
    // The tear-down of closing (devices shut, neutral frame, port closed, settings saved) without touching
    // the window: for a process that ends under it, e.g. when the display is gone.
    void TearDownInPlace() { Teardown(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void BuildControls();
    void BuildLowerControls();
    void ConnectSignals();
    void OnInitDialog();
    void Teardown();
    void LoadArtwork();
    void SetupSliders();
    void FillSoundList();
    void ShowSoundLabels();
    void ShowSoundRow(int row);
    void FillPortList();
    void FitPortBox();
    void PressAt(const QPoint& pos);
    void ToggleSound(int row);
    void ShowState();
    bool ConfirmQuit();
    void ShowConnectFailure(const ConnectResult& result);
    bool ArrowKey(QKeyEvent* key, QEvent::Type type);
    void InvalidateItem(const ControllerItem& item);
    bool IsFilteredOut(QObject* watched) const;
    QSlider* SliderAt(const QPoint& globalPos) const;
    void BuildLinkControls();
    void ShowLinkReadouts();
    void UpdateLinkActions();
    void OnRecord();
    void OnPlay();
    bool DrawnPressed(int item) const;
    void ShowLinkError(const std::string& error);
    void ShowActivityMark(Msg mark);
    // ---- The emergency stop and enable (main_window_stop.cpp)
    void BuildStopControls();
    // ---- The practice match (main_window_match.cpp)
    void BuildMatchControls();
    void OpenMatch();
    void ShowMatch();
    QString StopTip() const;
    void ShowStop();
    void OnReleaseClicked();
    bool AskRelease(const QString& question);
    // The stop key while the window has the focus; true when it was taken.
    bool StopKey(QKeyEvent* key);
    QString Tr(Msg id) const { return QString::fromUtf8(app_.Tr(id)); }

    const AppContext& app_;
    std::unique_ptr<ControlSession> session_;
    QTimer tick_;
    bool tornDown_ = false;
    bool messageBoxes_ = true;
    bool terminating_ = false;
    QString lastConnectError_;
    QString lastMessage_;
    std::optional<SaveResult> saveResult_;
    std::array<QPixmap, 200> art_;  // rendered artwork by id
    qreal artRatio_ = 1;            // the device pixel ratio the artwork was rendered for

    QComboBox* portCombo_ = nullptr;
    QPushButton* connectButton_ = nullptr;
    QPushButton* operationButton_ = nullptr;
    QLineEdit* axisLine_ = nullptr;
    QCheckBox* legendCheck_ = nullptr;
    QLineEdit* keyboardStatus_ = nullptr;
    QLineEdit* gamepadStatus_ = nullptr;
    QHash<const QWidget*, QString> shownTexts_;  // what ShowState set last, by widget
    QTreeWidget* soundList_ = nullptr;
    BatteryMeter* batteryMeter_ = nullptr;
    QLabel* linkNote_ = nullptr;
    QLabel* playbackNote_ = nullptr;  // in the link note's place while a played session has gaps
    QPushButton* soundButton_ = nullptr;
    QPushButton* soundStopButton_ = nullptr;
    QCheckBox* selfNeutralCheck_ = nullptr;
    QComboBox* resolutionCombo_ = nullptr;
    QPushButton* xButton_ = nullptr;
    QSlider* sliderX_ = nullptr;
    QPushButton* yButton_ = nullptr;
    QSlider* sliderY_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
    QCheckBox* batteryCheck_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    // The link monitor and recorded sessions
    LinkMonitorWindow* monitor_ = nullptr;  // made on first use, then only hidden
    RemoteWindow* remote_ = nullptr;        // likewise
    QLabel* remoteMark_ = nullptr;
    QLabel* batteryNumber_ = nullptr;
    LinkIndicator* indicator_ = nullptr;
    QLabel* activityMark_ = nullptr;
    QAction* recordAction_ = nullptr;
    QAction* playAction_ = nullptr;
    QAction* stopAction_ = nullptr;
    QString lastLinkError_;
    std::optional<std::uint32_t> shownItems_;  // the played frame's items the picture shows, while playing
    QPushButton* stopButton_ = nullptr;
    QPushButton* enableButton_ = nullptr;
    QPushButton* releaseButton_ = nullptr;
    QLabel* stopBanner_ = nullptr;
    // What the stop's controls show now: they are composed again only when it changes.
    struct StopView {
        bool stopped;
        std::chrono::system_clock::time_point at;
        bool enabled;
        bool drivingOrIdle;
        Holding letGo;
        std::string tipFor;  // the stop key and why it is not grabbed
        bool operator==(const StopView&) const = default;
    };
    std::optional<StopView> shownStop_;
    MatchDialog* match_ = nullptr;  // made on first use, then only hidden
    QLabel* matchPhase_ = nullptr;
    QLabel* matchTime_ = nullptr;
    std::function<bool(const QString&)> confirmRelease_ = [this](const QString& q) { return AskRelease(q); };
    std::uint64_t blinkSeen_ = 0;
    std::chrono::steady_clock::time_point blinkAt_{};
};

}  // namespace zanth
