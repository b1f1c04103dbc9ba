#include "panel/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <QUrl>

#include "input/joystick.h"
#include "input/keyboard.h"
#include "input/mapping.h"
#include "panel/about_dialog.h"
#include "panel/artwork.h"
#include "panel/battery_meter.h"
#include "panel/key_joy_setup.h"
#include "panel/link_monitor.h"
#include "panel/sound_dlg.h"
#include "panel/stats.h"
#include "sound/sound_player.h"
#include "sound/sound_rules.h"

namespace zanth {

CPadoraDlg::CPadoraDlg(const CPadoraApp& app, const Settings& settings, QWidget* parent)
    : QDialog(parent), app_(app) {
    SessionParts parts;
    auto joystick = std::make_unique<CJoystick>(app.language);
    auto sound = std::make_unique<SoundPlayer>();
    joystick_ = joystick.get();
    sound_ = sound.get();
    parts.keyboard = std::make_unique<CKeyboard>();
    parts.gamepad = std::move(joystick);
    parts.sound = std::move(sound);
    session_ = std::make_unique<ControlSession>(app, settings, std::move(parts));
    model().invalidate = [this](const ControllerItem& item) { InvalidateItem(item); };
    LoadArtwork();
    BuildControls();
    ConnectSignals();
    OnInitDialog();
}

CPadoraDlg::CPadoraDlg(const CPadoraApp& app, QWidget* parent)
    : CPadoraDlg(app, LoadSettings(app.configPath), parent) {}

CPadoraDlg::~CPadoraDlg() {
    Teardown();
}

void CPadoraDlg::OnInitDialog() {
    setWindowTitle(Tr(Msg::kWindowTitle));
    setWindowIcon(AppIcon());
    // At the foreground level the input devices read only while the window is active.
    session_->Open([this] { return isActiveWindow(); });
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
    ShowState();
    if (sound_->Open()) sound_->Preload(SoundFiles(model()));
    qApp->installEventFilter(this);
    tick_.setTimerType(Qt::PreciseTimer);
    tick_.start(50);
}

void CPadoraDlg::InvalidateItem(const ControllerItem& item) {
    update(QRect(item.left, item.top, item.width, item.height));
}

void CPadoraDlg::NeutralX() {
    sliderX_->setValue(session_->CentreX());
}

void CPadoraDlg::NeutralY() {
    sliderY_->setValue(session_->CentreY());
}

void CPadoraDlg::ToggleSound(int row) {
    if (!session_->ToggleSound(row)) return;
    if (QTreeWidgetItem* item = soundList_->topLevelItem(row))
        item->setText(1, model().soundEffects[static_cast<std::size_t>(row)].enabled ? "ON" : "OFF");
}

// ---- The tick and what it shows

void CPadoraDlg::ControllerTick() {
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

QString CPadoraDlg::LinkNoteText() const {
    const PanelState& s = session_->state();
    if (s.link == LinkState::kPortLost && s.failure) {
        const LinkFailure& f = *s.failure;
        QString why;
        switch (f.kind) {
            case LinkFailure::Kind::kUnplugged:
                why = Tr(Msg::kPortUnplugged).arg(QString::fromStdString(f.device));
                break;
            case LinkFailure::Kind::kIoError:
                why = Tr(Msg::kPortIoError);
                break;
            case LinkFailure::Kind::kStalled:
                why = Tr(Msg::kPortStalled);
                break;
            case LinkFailure::Kind::kOther:
                why = QString::fromStdString(f.detail);
                break;
        }
        return Tr(Msg::kPortLost) + ": " + why;
    }
    return s.meterStale ? Tr(Msg::kNoReply) : QString();
}

void CPadoraDlg::ShowState() {
    const PanelState& s = session_->state();
    // Widgets are touched only on a change: the tick shows the state every 50 ms.
    auto setText = [](auto* w, const QString& text) {
        if (w->text() != text) w->setText(text);
    };
    setText(keyboardStatus_, Tr(s.keyboardReady ? Msg::kKeyboardReady : Msg::kKeyboardNotReady));
    setText(gamepadStatus_, Tr(s.gamepadReady ? Msg::kGamepadReady : Msg::kGamepadNotReady));
    setText(axisLine_, QString::fromStdString(s.axisLine));
    setText(connectButton_, Tr(session_->connected() ? Msg::kDisconnect : Msg::kConnect));
    operationButton_->setEnabled(s.settingsEnabled());
    soundButton_->setEnabled(s.settingsEnabled());
    batteryMeter_->setBarColour(QColor(s.meterColour.r, s.meterColour.g, s.meterColour.b));
    batteryMeter_->setValue(s.meterValue);
    batteryMeter_->setStale(s.meterStale);
    const QString note = LinkNoteText();
    setText(linkNote_, note);
    linkNote_->setToolTip(note);
    linkNote_->setVisible(!note.isEmpty());
    ShowLinkReadouts();
}

// ---- Connect / Disconnect

void CPadoraDlg::ConnectOrDisconnect() {
    const ConnectResult r = session_->ToggleConnection(portCombo_->currentIndex());
    if (r.outcome == ConnectResult::Outcome::kFailed) {
        lastConnectError_ = Tr(Msg::kConnectFailed) + "\n" + QString::fromStdString(r.port) + " (" +
                            QString::fromStdString(r.device.empty() ? "-" : r.device) +
                            "): " + QString::fromStdString(r.reason);
        ShowState();
        if (messageBoxes_) QMessageBox::critical(this, Tr(Msg::kCaptionError), lastConnectError_);
        return;
    }
    if (r.outcome == ConnectResult::Outcome::kConnected) lastConnectError_.clear();
    ShowState();
}

// ---- The two settings dialogs

void CPadoraDlg::OnOperationSetting() {
    CKeyJoySetup dialog(app_, *joystick_, FillMappingRows(model()), this);
    // The dialog reads the gamepad itself for its live view; two owners of one device would fight over it.
    session_->SuspendGamepad();
    if (dialog.exec() == QDialog::Accepted) ApplyMappingRows(dialog.rows(), model());
    session_->ResumeGamepad();
    update();
}

void CPadoraDlg::OnSoundSetting() {
    CSoundDlg dialog(app_, *sound_, RowsFromModel(model()), this);
    if (dialog.exec() != QDialog::Accepted) return;
    ApplyRows(dialog.rows(), model());
    const ControllerModel& m = model();
    for (int i = 0; i < m.soundEffectCount; ++i) {
        const SoundEffect& e = m.soundEffects[static_cast<std::size_t>(i)];
        if (QTreeWidgetItem* row = soundList_->topLevelItem(i)) {
            row->setText(2, QString::fromStdString(SoundLabel(e)));
            row->setText(3, e.repeat ? "ON" : "OFF");
        }
    }
    // Files may have changed on disk or in the settings: decode them afresh now, not on the first press.
    sound_->ClearCache();
    sound_->Preload(SoundFiles(m));
}

// ---- Help: manual and About box

void CPadoraDlg::OpenManual() {
    const QString file = app_.japanese() ? QString::fromUtf8("Zanthエミュレータ取扱説明書.pdf")
                                         : QStringLiteral("Zanth-Emulator_10_ENG.pdf");
    const QFileInfo info(QDir::current(), file);
    // Missing manual: nothing to say. The viewer runs on its own; the window does not wait for it.
    if (info.exists()) QDesktopServices::openUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
}

void CPadoraDlg::ShowAbout() {
    CAboutDlg about(app_, this);
    about.exec();
}

// ---- Tear-down

void CPadoraDlg::done(int result) {
    Teardown();
    QDialog::done(result);
}

void CPadoraDlg::Teardown() {
    if (tornDown_) return;
    tornDown_ = true;
    qApp->removeEventFilter(this);
    tick_.stop();
    delete monitor_;  // it shows what the session keeps, which goes before the window's children do
    monitor_ = nullptr;
    // Devices shut, the robot's last neutral frame, the port closed, then every setting in one save.
    saveResult_ = session_->Close(app_.configPath);
    sound_->Close();
    RunStats::Get().Write();
}

}  // namespace zanth
