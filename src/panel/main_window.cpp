#include "panel/main_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>

#include "base/clock.h"
#include "input/apply.h"
#include "input/joystick.h"
#include "panel/key_joy_setup.h"
#include "input/keyboard.h"
#include "input/mapping.h"
#include "link/link_worker.h"
#include "model/settings.h"
#include "panel/about_dialog.h"
#include "panel/artwork.h"
#include "panel/battery_meter.h"
#include "panel/dialog_units.h"
#include "panel/stats.h"
#include "panel/sound_dlg.h"
#include "sound/sound_player.h"
#include "sound/sound_rules.h"

namespace zanth {
namespace {

constexpr int kPortCount = 48;
// Without a valid battery reply for this long, the meter shows that the robot is not answering.
constexpr std::uint32_t kNoReplyMs = 1000;

// Shrinks a control's font until its caption fits: the template's sizes were made for a narrower UI font.
void FitCaption(QAbstractButton* button, int room) {
    QFont f = button->font();
    while (f.pixelSize() > 8 && QFontMetrics(f).horizontalAdvance(button->text()) > room)
        f.setPixelSize(f.pixelSize() - 1);
    button->setFont(f);
}

template <typename W>
W* Place(W* widget, int x, int y, int w, int h) {
    widget->setGeometry(DialogUnitsToPixels(x, y, w, h));
    return widget;
}

}  // namespace

CPadoraDlg::CPadoraDlg(CPadoraApp& app, QWidget* parent)
    : QDialog(parent),
      app_(app),
      keyboard_(std::make_unique<CKeyboard>()),
      joystick_(std::make_unique<CJoystick>(app.language)),
      sound_(std::make_unique<SoundPlayer>()),
      link_(std::make_unique<LinkWorker>()) {
    model_.invalidate = [this](const ControllerItem& item) { InvalidateItem(item); };
    BuildModel(model_, app_, IniFile::Load(app_.configPath));
    LoadArtwork();
    BuildControls();
    OnInitDialog();
}

CPadoraDlg::~CPadoraDlg() {
    Teardown();
}

void CPadoraDlg::LoadArtwork() {
    const qreal dpr = devicePixelRatioF();
    artRatio_ = dpr;
    for (QPixmap& p : art_) p = QPixmap();
    for (const ControllerItem& item : model_.items) {
        for (int id : {item.upBitmapId, item.downBitmapId})
            if (id > 0 && id < static_cast<int>(art_.size()) && art_[static_cast<std::size_t>(id)].isNull())
                art_[static_cast<std::size_t>(id)] = RenderArtwork(id, dpr);
    }
}

void CPadoraDlg::BuildControls() {
    setFixedSize(800, 600);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setAttribute(Qt::WA_OpaquePaintEvent);
    // The controls are small (they were laid out for a 9 pt UI font): keep their text compact.
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    setStyleSheet("QPushButton { padding: 0px 2px; } QLineEdit { padding: 0px; }");

    // Created in the template's order, which is also the tab order.
    portCombo_ = Place(new QComboBox(this), 399, 259, 48, 14);
    connectButton_ = Place(new QPushButton(T("接続", "Connect"), this), 395, 285, 56, 14);
    operationButton_ = Place(new QPushButton(T("操作設定", "Operation Setting"), this), 395, 307, 56, 14);
    axisLine_ = Place(new QLineEdit(this), 6, 9, 40, 14);
    axisLine_->setReadOnly(true);
    axisLine_->setMaxLength(62);
    axisLine_->hide();
    legendCheck_ = Place(new QCheckBox(T("キーボード設定の表示", "Keyboard Setting"), this), 373, 9, 77, 10);
    keyboardStatus_ = Place(new QLineEdit(this), 353, 47, 99, 14);
    keyboardStatus_->setReadOnly(true);
    gamepadStatus_ = Place(new QLineEdit(this), 353, 67, 99, 14);
    gamepadStatus_->setReadOnly(true);
    soundList_ = Place(new QTreeWidget(this), 6, 63, 81, 185);
    batteryMeter_ = Place(new BatteryMeter(this), 168, 147, 116, 14);
    noReplyLabel_ = new QLabel(T("応答なし", "No reply"), this);
    noReplyLabel_->setGeometry(batteryMeter_->geometry().right() + 6, batteryMeter_->y(), 80,
                               batteryMeter_->height());
    noReplyLabel_->setStyleSheet("color: #a00000; font-weight: bold;");
    noReplyLabel_->hide();
    soundButton_ = Place(new QPushButton(T("効果音設定", "Sound Setting"), this), 8, 257, 50, 14);
    soundStopButton_ = Place(new QPushButton(T("音停止", "Sound Stop"), this), 8, 275, 50, 14);
    selfNeutralCheck_ = Place(new QCheckBox("Self Neutral", this), 225, 328, 69, 10);
    resolutionCombo_ = Place(new QComboBox(this), 209, 348, 34, 14);
    xButton_ = Place(new QPushButton("X", this), 256, 345, 18, 18);
    sliderX_ = Place(new QSlider(Qt::Horizontal, this), 227, 366, 75, 25);
    sliderX_->setTickPosition(QSlider::TicksBothSides);
    yButton_ = Place(new QPushButton("Y", this), 286, 339, 18, 18);
    sliderY_ = Place(new QSlider(Qt::Vertical, this), 305, 307, 24, 80);
    sliderY_->setTickPosition(QSlider::TicksBothSides);
    sliderY_->setInvertedAppearance(true);  // minimum at the top, like the stick's Y axis
    sliderY_->setInvertedControls(true);
    closeButton_ = Place(new QPushButton(T("閉じる", "CLOSE"), this), 394, 359, 57, 16);
    okButton_ = Place(new QPushButton("OK", this), 397, 377, 50, 16);
    okButton_->setEnabled(false);
    okButton_->hide();
    batteryCheck_ =
        Place(new QCheckBox(T("バッテリー表示 On/Off", "Battery Meter ON/OFF"), this), 305, 149, 82, 10);
    batteryCheck_->hide();
    for (QPushButton* b : {connectButton_, operationButton_, soundButton_, soundStopButton_, xButton_,
                           yButton_, closeButton_, okButton_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        FitCaption(b, b->width() - 6);
    }
    batteryMeter_->setFocusPolicy(Qt::NoFocus);
    setTabOrder(portCombo_, connectButton_);
    setTabOrder(connectButton_, operationButton_);
    setTabOrder(operationButton_, legendCheck_);
    setTabOrder(legendCheck_, keyboardStatus_);
    setTabOrder(keyboardStatus_, gamepadStatus_);
    setTabOrder(gamepadStatus_, soundList_);
    setTabOrder(soundList_, soundButton_);
    setTabOrder(soundButton_, soundStopButton_);
    setTabOrder(soundStopButton_, selfNeutralCheck_);
    setTabOrder(selfNeutralCheck_, resolutionCombo_);
    setTabOrder(resolutionCombo_, xButton_);
    setTabOrder(xButton_, sliderX_);
    setTabOrder(sliderX_, yButton_);
    setTabOrder(yButton_, sliderY_);
    setTabOrder(sliderY_, closeButton_);

    helpMenu_ = new QMenu(this);
    helpMenu_->addAction(T("ﾏﾆｭｱﾙ[pdf]を表示", "Display Manual[pdf]"), this, &CPadoraDlg::OpenManual);
    helpMenu_->addAction(T("バージョン情報 Zanthエミュレータ(&A)...", "About Zanth-Emulator(&A)..."), this,
                         &CPadoraDlg::ShowAbout);

    connect(connectButton_, &QPushButton::clicked, this, &CPadoraDlg::ConnectOrDisconnect);
    connect(operationButton_, &QPushButton::clicked, this, &CPadoraDlg::OnOperationSetting);
    connect(soundButton_, &QPushButton::clicked, this, &CPadoraDlg::OnSoundSetting);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(legendCheck_, &QCheckBox::toggled, this, [this] { update(); });
    connect(xButton_, &QPushButton::clicked, this, &CPadoraDlg::NeutralX);
    connect(yButton_, &QPushButton::clicked, this, &CPadoraDlg::NeutralY);
    connect(soundStopButton_, &QPushButton::clicked, this, [this] { StopSound(model_, *sound_); });
    connect(soundList_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { ToggleSound(soundList_->indexOfTopLevelItem(item)); });
    connect(resolutionCombo_, &QComboBox::currentIndexChanged, this, [this](int index) {
        model_.sliderResolution = std::clamp(index, 0, 4);
        SetupSliders();
    });
    connect(link_.get(), &LinkWorker::batteryReply, this, &CPadoraDlg::OnBatteryReply);
    connect(link_.get(), &LinkWorker::linkError, this, &CPadoraDlg::OnLinkError);
    connect(&tick_, &QTimer::timeout, this, &CPadoraDlg::ControllerTick);
    qApp->installEventFilter(this);
}

void CPadoraDlg::OnInitDialog() {
    setWindowTitle(T("Zanthエミュレータ Version 1.0.0.2", "Zanth-Emulator Version 1.0.0.2"));
    setWindowIcon(AppIcon());
    app_.mainWindow = this;
    const IniFile settings = IniFile::Load(app_.configPath);
    app_.backgroundInput = ReadBackgroundSetting(settings);

    model_.gamepadReady = joystick_->Create(WindowIsActive(), app_.backgroundInput) ? 1 : 0;
    if (model_.gamepadReady)
        SetStatus(gamepadStatus_, "ゲームパッドが使用できます", "Game Pad is Ready for Use");
    else
        SetStatus(gamepadStatus_, "ゲームパッドが使用できません", "Game Pad is not Ready for Use");
    if (keyboard_->Create(WindowIsActive(), app_.backgroundInput))
        SetStatus(keyboardStatus_, "キーボードが使用できます", "Keyboard is Ready for Use");
    else
        SetStatus(keyboardStatus_, "キーボードが使用できません", "Keyboard is not Ready for Use");

    model_.leftStickX = model_.leftStickY = model_.rightStickX = model_.rightStickY = 128;
    model_.ledItem().latched = 1;

    {
        const QSignalBlocker block(resolutionCombo_);
        for (int i = 1; i <= 5; ++i) resolutionCombo_->addItem(QString::number(i));
        resolutionCombo_->setCurrentIndex(model_.sliderResolution);
    }
    SetupSliders();
    model_.wheelTime = 0;

    batteryMeter_->setRange(50, 80);
    batteryMeter_->setValue(0);
    batteryCheck_->setChecked(app_.batteryDisplay != 0);

    soundList_->setColumnCount(4);
    soundList_->setRootIsDecorated(false);
    soundList_->setSelectionMode(QAbstractItemView::SingleSelection);
    soundList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    soundList_->setHeaderLabels(
        {T("コントローラ", "Controller"), "ON/OFF", T("音名", "Sound"), T("繰り返し", "Repeat")});
    const int widths[4] = {app_.japanese() ? 50 : 60, 40, 100, 100};
    for (int c = 0; c < 4; ++c) soundList_->header()->resizeSection(c, widths[c]);
    FillSoundList();

    const std::vector<std::string> devices = ListSerialDevices();
    for (int n = 1; n <= kPortCount; ++n) {
        portCombo_->addItem(QString("COM%1").arg(n));
        const std::string device = ResolveComPort(n, settings, devices);
        portCombo_->setItemData(n - 1,
                                device.empty() ? T("装置なし", "no device") : QString::fromStdString(device),
                                Qt::ToolTipRole);
    }
    portCombo_->setCurrentIndex(app_.comPortIndex >= 0 && app_.comPortIndex < kPortCount ? app_.comPortIndex
                                                                                         : -1);

    if (sound_->Open()) {
        const auto files = SoundFiles(model_);
        sound_->Preload(files);
    }
    tick_.setTimerType(Qt::PreciseTimer);
    tick_.start(50);
}

void CPadoraDlg::SetupSliders() {
    const int d = model_.divisor();
    for (QSlider* s : {sliderX_, sliderY_}) {
        const QSignalBlocker block(s);
        s->setRange(0, 256 / d);
        s->setValue(128 / d);
        s->setTickInterval(64 / d);
        s->setSingleStep(1);
        s->setPageStep(std::max(1, 16 / d));
    }
}

void CPadoraDlg::FillSoundList() {
    soundList_->clear();
    for (int i = 0; i < model_.soundEffectCount; ++i) {
        const SoundEffect& e = model_.soundEffects[static_cast<std::size_t>(i)];
        auto* row = new QTreeWidgetItem(soundList_);
        row->setText(0, QString::fromStdString(model_.item(e.item).displayName));
        row->setText(1, e.enabled ? "ON" : "OFF");
        row->setText(2, QString::fromStdString(SoundLabel(e)));
        row->setText(3, e.repeat ? "ON" : "OFF");
    }
}

void CPadoraDlg::ToggleSound(int row) {
    if (!ToggleSoundEnabled(model_, row)) return;
    if (QTreeWidgetItem* item = soundList_->topLevelItem(row))
        item->setText(1, model_.soundEffects[static_cast<std::size_t>(row)].enabled ? "ON" : "OFF");
}

void CPadoraDlg::NeutralX() {
    model_.rightStickX = 128;
    sliderX_->setValue(128 / model_.divisor());
}

void CPadoraDlg::NeutralY() {
    model_.rightStickY = 128;
    sliderY_->setValue(128 / model_.divisor());
}

int CPadoraDlg::SliderValue(const QSlider* slider) const {
    return std::min(slider->value() * model_.divisor(), 255);
}

void CPadoraDlg::SetStatus(QLineEdit* edit, const char* ja, const char* en) {
    // The tick sets the status every 50 ms; touching the edit only on a change keeps the tick cheap.
    const QString text = T(ja, en);
    if (edit->text() != text) edit->setText(text);
}

void CPadoraDlg::InvalidateItem(const ControllerItem& item) {
    update(QRect(item.left, item.top, item.width, item.height));
}

// ---- Connect / Disconnect
// ----------------------------------------------------------------------------------

void CPadoraDlg::ConnectOrDisconnect() {
    if (linkRunning_) {
        // Leave the robot with nothing pressed before the port closes.
        link_->Stop(NeutralFrame(model_.ledItem().latched != 0));
        FinishDisconnect();
        return;
    }
    const int sel = portCombo_->currentIndex();
    if (sel < 0) return;
    const QString name = QString("COM%1").arg(sel + 1);
    const std::string device = ResolveComPort(sel + 1, IniFile::Load(app_.configPath));
    std::string reason;
    PortHandle port = nullptr;
    if (device.empty())
        reason = "no serial device for this port (set one under [PORTS] in the settings file)";
    else
        port = ComOpenNoDiscard(device, 115200, 8, 0, &reason);
    if (port == nullptr) {
        lastConnectError_ = T("ロボットとの接続に失敗しました。", "Connection failed") + "\n" + name + " (" +
                            QString::fromStdString(device.empty() ? "-" : device) +
                            "): " + QString::fromStdString(reason);
        if (messageBoxes_) QMessageBox::critical(this, "ERROR", lastConnectError_);
        return;
    }
    lastConnectError_.clear();
    link_->Start(port);
    linkRunning_ = true;
    replySeen_ = false;
    lastReplyTick_ = TickCount();
    app_.comPortIndex = sel;
    connectButton_->setText(T("切断", "Disconnect"));
    operationButton_->setEnabled(false);
    soundButton_->setEnabled(false);
}

void CPadoraDlg::FinishDisconnect() {
    linkRunning_ = false;
    connectButton_->setText(T("接続", "Connect"));
    batteryMeter_->setValue(0);
    batteryMeter_->setStale(false);
    noReplyLabel_->hide();
    operationButton_->setEnabled(true);
    soundButton_->setEnabled(true);
}

void CPadoraDlg::OnBatteryReply(int value) {
    if (!linkRunning_ || !batteryCheck_->isChecked()) return;
    const Rgb c = BatteryColour(value);
    batteryMeter_->setBarColour(QColor(c.r, c.g, c.b));
    batteryMeter_->setValue(value);
    replySeen_ = true;
    lastReplyTick_ = TickCount();
    UpdateNoReply();
}

void CPadoraDlg::OnLinkError(const QString&) {
    // The port went away (unplugged): nothing more can be sent; the meter shows that no reply comes.
    UpdateNoReply();
}

void CPadoraDlg::UpdateNoReply() {
    const bool stale =
        linkRunning_ && batteryCheck_->isChecked() &&
        static_cast<std::int32_t>(TickCount() - lastReplyTick_) > static_cast<std::int32_t>(kNoReplyMs);
    batteryMeter_->setStale(stale);
    noReplyLabel_->setVisible(stale);
}

// ---- Control tick
// ------------------------------------------------------------------------------------------

void CPadoraDlg::ControllerTick() {
    RunStats::Get().TickStart();
    Tick();
    RunStats::Get().TickEnd();
}

void CPadoraDlg::Tick() {
    // 1. Pending self-neutral after a wheel turn.
    if (model_.wheelTime != 0) {
        if (model_.wheelSlider == 0) {
            model_.wheelTime = 0;
        } else if (selfNeutralCheck_->isChecked()) {
            if (TickCount() - model_.wheelTime > 300) {
                if (model_.wheelSlider == 1) NeutralX();
                if (model_.wheelSlider == 2) NeutralY();
                model_.wheelTime = 0;
            }
        } else {
            model_.wheelTime = 0;
            model_.wheelSlider = 0;
        }
    }
    // 2. Look for a gamepad every 22nd tick while none is open.
    if (app_.padRetryTicks <= 20) {
        ++app_.padRetryTicks;
    } else {
        app_.padRetryTicks = 0;
        if (model_.gamepadReady == 0)
            model_.gamepadReady = joystick_->Create(WindowIsActive(), app_.backgroundInput) ? 1 : 0;
    }
    // 3-4. Devices. A failed poll releases what that device held, so nothing stays pressed on the robot.
    if (joystick_->Poll() == 0) {
        ApplyGamepad(model_, *joystick_);
        SetStatus(gamepadStatus_, "ゲームパッドが使用できます", "Game Pad is Ready for Use");
    } else {
        ReleaseGamepadItems(model_, *joystick_);
        SetStatus(gamepadStatus_, "ゲームパッドが使用できません", "Game Pad is not Ready for Use");
    }
    if (keyboard_->Poll() == 0) {
        ApplyKeyboard(model_, *keyboard_);
        SetStatus(keyboardStatus_, "キーボードが使用できます", "Keyboard is Ready for Use");
    } else {
        ReleaseKeyboardItems(model_);
        SetStatus(keyboardStatus_, "キーボードが使用できません", "Keyboard is not Ready for Use");
    }
    // 5. Sound effects follow the items.
    UpdateSounds(model_, *sound_);
    // 6-8. Stick bytes; the right-stick sliders follow the gamepad while its reading changes.
    model_.leftStickX =
        StickByte(model_.item(kItemStickLeft), model_.item(kItemStickRight), joystick_->padLX);
    model_.leftStickY = StickByte(model_.item(kItemStickUp), model_.item(kItemStickDown), joystick_->padLY);
    const int d = model_.divisor();
    auto follow = [&](int changed, int value, QSlider* slider, int& stick) {
        if (changed && model_.gamepadReady) {
            stick = value;
            const QSignalBlocker block(slider);
            slider->setValue(d == 1 ? value : (value + 1) / d);
        } else {
            stick = SliderValue(slider);
        }
    };
    follow(joystick_->padRXChanged, joystick_->padRX, sliderX_, model_.rightStickX);
    follow(joystick_->padRYChanged, joystick_->padRY, sliderY_, model_.rightStickY);
    // 9. Axis line.
    const QString axes =
        QString::asprintf("%02x:%02x:%02x:%02x", model_.leftStickX & 0xFF, model_.leftStickY & 0xFF,
                          model_.rightStickX & 0xFF, model_.rightStickY & 0xFF);
    if (axisLine_->text() != axes) axisLine_->setText(axes);
    // 10. Hand the newest frame to the link thread; the meter follows the replies it brings back.
    if (linkRunning_) {
        const bool replyWanted = batteryCheck_->isChecked();
        link_->SetFrame(BuildFrame(model_), replyWanted);
        if (!replyWanted) batteryMeter_->setValue(0);
        UpdateNoReply();
    }
}

// ---- Painting
// ----------------------------------------------------------------------------------------------

void CPadoraDlg::paintEvent(QPaintEvent* event) {
    const auto started = RunStats::Clock::now();
    PaintPicture(event->rect());
    RunStats::Get().Paint(started, event->rect().width(), event->rect().height());
}

void CPadoraDlg::PaintPicture(const QRect& dirty) {
    // Moved to a screen of another pixel ratio: render the artwork afresh so it stays crisp.
    if (!qFuzzyCompare(devicePixelRatioF(), artRatio_)) LoadArtwork();
    QPainter p(this);
    const bool legends = legendCheck_->isChecked();
    auto draw = [&](const ControllerItem& item, bool legendAllowed) {
        const QRect r(item.left, item.top, item.width, item.height);
        if (!r.intersects(dirty)) return;
        const int id = item.IsDrawnPressed() ? item.downBitmapId : item.upBitmapId;
        if (id > 0 && id < static_cast<int>(art_.size()))
            p.drawPixmap(r.topLeft(), art_[static_cast<std::size_t>(id)]);
        if (legends && legendAllowed) {
            if (auto name = app_.FindNameByScanCode(item.keyCode)) {
                // Centred on the item, with the text's top edge at the item's vertical centre.
                const QString text = QString::fromStdString(*name);
                const QFontMetrics fm = p.fontMetrics();
                const int x = item.left + item.width / 2 - fm.horizontalAdvance(text) / 2;
                const int y = item.top + item.height / 2 + fm.ascent();
                p.setPen(Qt::black);
                p.drawText(x, y, text);
            }
        }
    };
    draw(model_.backgroundItem(), true);
    for (int i = 0; i < kInputItemCount; ++i) draw(model_.item(i), true);
    draw(model_.ledItem(), false);
}

// ---- Mouse
// -------------------------------------------------------------------------------------------------

void CPadoraDlg::PressAt(const QPoint& pos) {
    for (ControllerItem& item : model_.inputItems()) {
        if (!item.Hits(pos.x(), pos.y())) continue;
        if (item.togglesLed == 1) model_.FlipLed();
        item.mouseDown = 1;
        InvalidateItem(item);
    }
    connectButton_->setFocus(Qt::MouseFocusReason);
}

void CPadoraDlg::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) PressAt(event->position().toPoint());
    QDialog::mousePressEvent(event);
}

void CPadoraDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    // Not passed on: the default handling would deliver it again as a press and flip the LED once more.
    if (event->button() == Qt::LeftButton) PressAt(event->position().toPoint());
    event->accept();
}

void CPadoraDlg::mouseReleaseEvent(QMouseEvent* event) {
    // The window keeps the mouse while a button is held, so this comes even when released outside it.
    if (event->button() == Qt::LeftButton) {
        for (ControllerItem& item : model_.inputItems()) {
            if (item.mouseDown == 1) InvalidateItem(item);
            item.mouseDown = 0;
        }
    }
    QDialog::mouseReleaseEvent(event);
}

void CPadoraDlg::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    for (ControllerItem& item : model_.inputItems()) {
        if (item.mouseDown == 1 && !item.Hits(pos.x(), pos.y())) {
            item.mouseDown = 0;
            InvalidateItem(item);
        }
    }
    QDialog::mouseMoveEvent(event);
}

void CPadoraDlg::contextMenuEvent(QContextMenuEvent* event) {
    helpMenu_->popup(event->globalPos());
}

void CPadoraDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        helpMenu_->popup(mapToGlobal(QPoint(400, 300)));
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- The filter that sees every event first: arrow keys, wheel and button-up on the sliders
// ------------------

bool CPadoraDlg::IsFilteredOut(QObject* watched) const {
    // The port combo, the sound list and the resolution box keep their own keys (and their popups).
    for (QWidget* own : {static_cast<QWidget*>(portCombo_), static_cast<QWidget*>(soundList_),
                         static_cast<QWidget*>(resolutionCombo_)}) {
        for (QObject* o = watched; o != nullptr; o = o->parent())
            if (o == own) return true;
    }
    if (auto* w = qobject_cast<QWidget*>(watched)) {
        for (QComboBox* combo : {portCombo_, resolutionCombo_})
            if (combo->view() && (w == combo->view() || combo->view()->isAncestorOf(w) ||
                                  (combo->view()->window() && combo->view()->window()->isAncestorOf(w))))
                return true;
    }
    return false;
}

bool CPadoraDlg::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || (widget != this && !isAncestorOf(widget)) || IsFilteredOut(watched))
        return QDialog::eventFilter(watched, event);
    const QEvent::Type type = event->type();
    if (type == QEvent::Wheel) {
        model_.wheelSlider = widget == sliderX_ ? 1 : widget == sliderY_ ? 2 : 0;
        if (model_.wheelSlider != 0) model_.wheelTime = TickCount();
    } else if (type == QEvent::MouseButtonRelease && (widget == sliderX_ || widget == sliderY_)) {
        const auto button = static_cast<QMouseEvent*>(event)->button();
        if (button == Qt::RightButton || (button == Qt::LeftButton && selfNeutralCheck_->isChecked()))
            widget == sliderX_ ? NeutralX() : NeutralY();
    } else if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        const int k = key->key();
        const bool vertical = k == Qt::Key_Up || k == Qt::Key_Down;
        const bool horizontal = k == Qt::Key_Left || k == Qt::Key_Right;
        if (vertical || horizontal) {
            if (type == QEvent::KeyRelease) {
                // Auto-repeat sends release/press pairs on X11; only the real release lets the stick go.
                if (!key->isAutoRepeat() && selfNeutralCheck_->isChecked())
                    vertical ? NeutralY() : NeutralX();
            } else {
                QSlider* s = vertical ? sliderY_ : sliderX_;
                const int step = (k == Qt::Key_Up || k == Qt::Key_Left) ? -1 : 1;
                s->setValue(s->value() + step);
            }
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- The two settings dialogs
// ------------------------------------------------------------------------------

void CPadoraDlg::OnOperationSetting() {
    CKeyJoySetup dialog(app_, *joystick_, FillMappingRows(model_), this);
    // The dialog reads the gamepad itself for its live view; two owners of one device would fight over it.
    joystick_->Shutdown();
    if (dialog.exec() == QDialog::Accepted) ApplyMappingRows(dialog.rows(), model_);
    model_.gamepadReady = joystick_->Create(WindowIsActive(), 0) ? 1 : 0;
    update();
}

void CPadoraDlg::OnSoundSetting() {
    CSoundDlg dialog(app_, *sound_, RowsFromModel(model_), this);
    if (dialog.exec() != QDialog::Accepted) return;
    ApplyRows(dialog.rows(), model_);
    for (int i = 0; i < model_.soundEffectCount; ++i) {
        const SoundEffect& e = model_.soundEffects[static_cast<std::size_t>(i)];
        if (QTreeWidgetItem* row = soundList_->topLevelItem(i)) {
            row->setText(2, QString::fromStdString(SoundLabel(e)));
            row->setText(3, e.repeat ? "ON" : "OFF");
        }
    }
    // Files may have changed on disk or in the settings: decode them afresh now, not on the first press.
    sound_->ClearCache();
    sound_->Preload(SoundFiles(model_));
}

// ---- Help: manual and About box
// ----------------------------------------------------------------------------

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
// ---------------------------------------------------------------------------------------------

void CPadoraDlg::done(int result) {
    Teardown();
    QDialog::done(result);
}

void CPadoraDlg::Teardown() {
    if (tornDown_) return;
    tornDown_ = true;
    qApp->removeEventFilter(this);
    tick_.stop();
    joystick_->Shutdown();
    keyboard_->Shutdown();
    if (linkRunning_) {
        link_->Stop(NeutralFrame(model_.ledItem().latched != 0));
        linkRunning_ = false;
    }
    sound_->Close();
    saveResult_ = SaveSettings(model_, app_.configPath);
    RunStats::Get().Write();
}

}  // namespace zanth
