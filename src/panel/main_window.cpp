#include "panel/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <optional>

#include "base/paths.h"
#include "base/reason_text.h"
#include "control/log.h"
#include "input/mapping.h"
#include "model/file_lock.h"
#include "panel/about_dialog.h"
#include "panel/artwork.h"
#include "panel/battery_meter.h"
#include "panel/japanese_text.h"
#include "panel/link_monitor.h"
#include "panel/link_note.h"
#include "panel/match_dialog.h"
#include "panel/operation_settings_dialog.h"
#include "panel/plain_text.h"
#include "panel/remote_window.h"
#include "panel/sound_settings_dialog.h"
#include "panel/stats.h"

namespace zanth {

MainWindow::MainWindow(const AppContext& app, std::unique_ptr<ControlSession> session, QWidget* parent)
    : QDialog(parent), app_(app), session_(std::move(session)) {
    model().invalidate = [this](const ControllerItem& item) { InvalidateItem(item); };
    LoadArtwork();
    BuildControls();
    ConnectSignals();
    OnInitDialog();
}

MainWindow::~MainWindow() {
    Teardown();
}

void MainWindow::OnInitDialog() {
    setWindowTitle(QString::fromStdString(app_.WindowTitle()));
    setWindowIcon(AppIcon());
    // At the foreground level the input devices read only while one of the program's own windows is
    // active: this one or the link monitor, which is read while driving, or the match's dialog while a match
    // runs (it takes no typing then). A dialog stops them.
    session_->Open([this] {
        const QWidget* active = QApplication::activeWindow();
        const MatchState match = session_->state().matchState;
        const bool matchLive = match == MatchState::kRunning || match == MatchState::kPaused;
        return active != nullptr && (active == this || active == monitor_ || (matchLive && active == match_));
    });
    {
        const QSignalBlocker block(resolutionCombo_);
        for (int i = 1; i <= 5; ++i) resolutionCombo_->addItem(QString::number(i));
        resolutionCombo_->setCurrentIndex(model().sliderResolution);
    }
    SetupSliders();
    batteryMeter_->setRange(ControlSession::kMeterMin, ControlSession::kMeterMax);
    batteryCheck_->setChecked(app_.batteryDisplay != 0);
    FillSoundList();
    FillPortList();
    // The port list follows devices as they come and go, and the selection the device the user chose.
    connect(session_.get(), &ControlSession::portsChanged, this, &MainWindow::FillPortList);
    connect(portCombo_, &QComboBox::activated, this, [this](int index) { session_->NotePortChoice(index); });
    connect(session_.get(), &ControlSession::connectFailed, this, &MainWindow::ShowConnectFailure);
    ShowState();
    // Where a click on the picture puts it: the port list would take the first arrow key for itself.
    connectButton_->setFocus(Qt::OtherFocusReason);
    qApp->installEventFilter(this);
    tick_.setTimerType(Qt::PreciseTimer);
    tick_.start(50);
}

void MainWindow::InvalidateItem(const ControllerItem& item) {
    update(QRect(item.left, item.top, item.width, item.height));
}

void MainWindow::NeutralX() {
    sliderX_->setValue(session_->CentreX());
}

void MainWindow::NeutralY() {
    sliderY_->setValue(session_->CentreY());
}

void MainWindow::ToggleSound(int row) {
    if (!session_->ToggleSound(row)) return;
    ShowSoundRow(row);
}

// ---- The tick and what it shows

void MainWindow::ControllerTick() {
    RunStats::Get().TickStart();
    PanelInputs in;
    in.sliderX = sliderX_->value();
    in.sliderY = sliderY_->value();
    in.selfNeutral = selfNeutralCheck_->isChecked();
    in.batteryDisplay = batteryCheck_->isChecked();
    const SliderMoves moves = session_->Tick(in);
    // The sliders follow the gamepad (or centre) without being taken for the user's own moves.
    auto follow = [](QSlider* s, const std::optional<int>& to) {
        if (!to) return;
        const QSignalBlocker block(s);
        s->setValue(*to);
    };
    follow(sliderX_, moves.x);
    follow(sliderY_, moves.y);
    ShowState();
    RunStats::Get().TickEnd();
}

void MainWindow::ShowState() {
    const PanelState& s = session_->state();
    // Widgets are touched only on a change: the tick shows the state every 50 ms.
    auto setText = [this](auto* w, const QString& text) {
        // A line edit composes its text on every call: what it was given last is kept here instead.
        QString& shown = shownTexts_[w];
        if (shown == text && !shown.isNull()) return;
        shown = text.isNull() ? QString("") : text;
        w->setText(text);
    };
    setText(keyboardStatus_, Tr(s.keyboardReadable ? Msg::kKeyboardReady : Msg::kKeyboardNotReady));
    // While the chosen pad is away no other drives this window: the status names the one it waits for.
    const QString padStatus = !s.padAbsent.empty()
                                  ? Tr(Msg::kGamepadAbsent).arg(QString::fromStdString(s.padAbsent))
                                  : Tr(s.gamepadReadable ? Msg::kGamepadReady : Msg::kGamepadNotReady);
    if (QString& shown = shownTexts_[gamepadStatus_]; shown != padStatus || shown.isNull()) {
        shown = padStatus;
        gamepadStatus_->setText(padStatus);
        gamepadStatus_->setCursorPosition(0);
    }
    const QString padTip =
        PlainTip(s.padAbsent.empty() ? QString::fromStdString(s.gamepadDescription) : padStatus);
    if (gamepadStatus_->toolTip() != padTip) gamepadStatus_->setToolTip(padTip);
    setText(axisLine_, QString::fromStdString(s.axisLine));
    setText(connectButton_, Tr(s.engaged() ? Msg::kDisconnect : Msg::kConnect));
    operationButton_->setEnabled(s.settingsEnabled());
    soundButton_->setEnabled(s.settingsEnabled());
    batteryMeter_->setBarColour(QColor(s.meterColour.r, s.meterColour.g, s.meterColour.b));
    batteryMeter_->setValue(s.meterValue);
    batteryMeter_->setStale(s.meterStale);
    const LinkNote note = ComposeLinkNote(s, app_.language, linkNote_->fontMetrics(), linkNote_->width());
    setText(linkNote_, note.text);
    if (const QString tip = PlainTip(note.tip); linkNote_->toolTip() != tip) linkNote_->setToolTip(tip);
    linkNote_->setVisible(!note.text.isEmpty());
    const QString mark = s.remoteClients > 0 ? Tr(Msg::kRemoteMark).arg(s.remoteClients) : QString();
    setText(remoteMark_, mark);
    remoteMark_->setVisible(!mark.isEmpty());
    ShowLinkReadouts();
    ShowStop();
    ShowMatch();
}

// ---- Connect / Disconnect

void MainWindow::ConnectOrDisconnect() {
    const ConnectResult r = session_->ToggleConnection(portCombo_->currentIndex());
    if (r.outcome == ConnectResult::Outcome::kFailed) {
        ShowConnectFailure(r);
        return;
    }
    if (r.outcome == ConnectResult::Outcome::kConnected) lastConnectError_.clear();
    ShowState();
}

// Also for a connect that failed later, off the GUI thread (a network bridge).
void MainWindow::ShowConnectFailure(const ConnectResult& r) {
    lastConnectError_ = Tr(Msg::kConnectFailed) + "\n" + QString::fromStdString(r.port) + " (" +
                        QString::fromStdString(r.device.empty() ? "-" : r.device) +
                        "): " + QString::fromStdString(ReasonText(r.reason, app_.language));
    // A refused or silent bridge is most often one not started, or not at the address the settings name.
    if (r.device.rfind("tcp://", 0) == 0) lastConnectError_ += "\n" + Tr(Msg::kBridgeHint);
    ShowState();
    if (messageBoxes_) ShowPlainBox(this, QMessageBox::Critical, Tr(Msg::kCaptionError), lastConnectError_);
}

// ---- The two settings dialogs

void MainWindow::OnOperationSetting() {
    // The dialog reads the gamepad itself for its live view; two owners of one device would fight over it.
    // It lets go of its own pad only after the session took its back, so that the device stays open.
    std::optional<OperationSettingsDialog> dialog;
    session_->LendGamepads([&](const GamepadSource& gamepads) {
        dialog.emplace(app_, gamepads, FillMappingRows(model()), this);
        dialog->setNamesEncoding(model().textEncoding);
        dialog->setPadChoice(model().pad);
        dialog->setRumble(model().rumble);
        dialog->setStopSettings(session_->stopSettings());
        if (dialog->exec() != QDialog::Accepted) return;
        ApplyMappingRows(dialog->rows(), model());
        session_->ChoosePad(dialog->padChoice());
        session_->SetRumble(dialog->rumble());
        session_->SetStopSettings(dialog->stopSettings());
    });
    update();
}

void MainWindow::OnSoundSetting() {
    SoundSettingsDialog dialog(app_, session_->soundPreview(), RowsFromModel(model()), model().textEncoding,
                               this);
    if (dialog.exec() != QDialog::Accepted) return;
    ApplyRows(dialog.rows(), model());
    ShowSoundLabels();
    session_->SoundsChanged();
}

// ---- Help: manual and About box

void MainWindow::OpenManual() {
    // Beside the settings, then where the program was installed. The viewer runs on its own; the window does
    // not wait for it.
    const std::string beside = FolderOf(app_.configPath);
    const std::string file = FindManual(beside, app_.language);
    if (file.empty()) {
        // A menu entry that does nothing looks broken: say which file was looked for, and where.
        QStringList places;
        for (const std::string& dir : {beside, InstalledDocFolder()})
            if (!dir.empty()) places << QDir::toNativeSeparators(QString::fromStdString(dir));
        const QString name = QString::fromUtf8(ManualFileName(app_.language));
        qCWarning(lcControl).noquote() << "manual" << name << "not found in" << places.join(", ");
        lastMessage_ = Tr(Msg::kManualNotFound).arg(name, places.join("\n"));
        if (messageBoxes_) ShowPlainBox(this, QMessageBox::Warning, Tr(Msg::kCaptionWarning), lastMessage_);
        return;
    }
    const QString path = QString::fromStdString(file);
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
    // The manual is there but nothing on this desktop shows PDF files: say so, and where the file is.
    lastMessage_ = Tr(Msg::kManualNoViewer).arg(QDir::toNativeSeparators(path));
    if (messageBoxes_) ShowPlainBox(this, QMessageBox::Warning, Tr(Msg::kCaptionWarning), lastMessage_);
}

void MainWindow::ShowAbout() {
    AboutDialog about(app_, this);
    about.exec();
}

// ---- A copy of the settings for another window

void MainWindow::SaveSettingsAs() {
    const QString folder = QString::fromStdString(FolderOf(app_.configPath));
    QString path =
        QFileDialog::getSaveFileName(this, Tr(Msg::kMenuSaveSettingsAs), folder, Tr(Msg::kSettingsFilter));
    if (path.isEmpty()) return;
    if (QFileInfo(path).suffix().isEmpty()) path += ".ini";
    SaveSettingsTo(path);
}

bool MainWindow::SaveSettingsTo(const QString& path) {
    const std::string file = path.toStdString();
    const QString where = QDir::toNativeSeparators(path);
    // Held while the copy is written, so that no window starts on it half-way; our own file stays ours.
    const FileLock::Result claim = FileLock::Acquire(file, false);
    bool ok = false;
    std::error_code ec;
    const bool ours = std::filesystem::equivalent(file, app_.configPath, ec);
    if (claim.outcome == FileLock::Outcome::kHeld && !ours) {
        lastMessage_ = Tr(Msg::kSettingsInUse) + "\n" + where + "\n" +
                       QString::fromStdString(DescribeHolder(claim.holder, app_.language));
    } else if (const SaveResult r = session_->SaveCopy(app_.configPath, file); !r.ok) {
        lastMessage_ = Tr(Msg::kSaveFailed) + "\n" + where + "\n" +
                       QString::fromStdString(ReasonText(r.error, app_.language));
    } else {
        ok = true;
        lastMessage_ = Tr(Msg::kSettingsSavedAs) + "\n" + where + "\n\n" + Tr(Msg::kSettingsSavedAsHint);
    }
    if (messageBoxes_ && ok)
        ShowPlainBox(this, QMessageBox::Information, Tr(Msg::kMenuSaveSettingsAs), lastMessage_);
    if (messageBoxes_ && !ok)
        ShowPlainBox(this, QMessageBox::Warning, Tr(Msg::kCaptionWarning), lastMessage_);
    return ok;
}

// ---- Tear-down

void MainWindow::reject() {
    // Escape is a reflex key: a driving session does not end on it without a word.
    if (session_->state().engaged() && !terminating_ && !ConfirmQuit()) return;
    QDialog::reject();
}

void MainWindow::Terminate() {
    terminating_ = true;
    reject();
}

bool MainWindow::ConfirmQuit() {
    QMessageBox box(QMessageBox::Question, windowTitle(), KeepLineEndsTogether(Tr(Msg::kQuitWhileConnected)),
                    QMessageBox::NoButton, this);
    QPushButton* yes = box.addButton(Tr(Msg::kYes), QMessageBox::YesRole);
    QPushButton* no = box.addButton(Tr(Msg::kNo), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void MainWindow::done(int result) {
    Teardown();
    QDialog::done(result);
}

void MainWindow::Teardown() {
    if (tornDown_) return;
    tornDown_ = true;
    qApp->removeEventFilter(this);
    tick_.stop();
    delete monitor_;  // it shows what the session keeps, which goes before the window's children do
    monitor_ = nullptr;
    delete remote_;
    remote_ = nullptr;
    // Devices shut, the robot's last neutral frame, the port closed, every setting in one save, the sound
    // closed.
    saveResult_ = session_->Close(app_.configPath);
    RunStats::Get().Write();
}

}  // namespace zanth
