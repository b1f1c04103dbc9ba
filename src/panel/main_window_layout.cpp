// The main window's controls: where they sit, what they say, and what they are wired to.
#include <unistd.h>
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "link/simulated_robot.h"
#include "panel/artwork.h"
#include "panel/battery_meter.h"
#include "panel/dialog_units.h"
#include "panel/fit_text.h"
#include "panel/link_note.h"
#include "panel/main_window.h"
#include "panel/plain_text.h"

namespace zanth {
namespace {

// Return, Enter and Space on a list do what a double click does.
class KeyToggle final : public QObject {
  public:
    KeyToggle(QObject* parent, std::function<void()> toggle) : QObject(parent), toggle_(std::move(toggle)) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        if (!plain ||
            !(key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Space))
            return false;
        if (!key->isAutoRepeat()) toggle_();
        return true;
    }

  private:
    std::function<void()> toggle_;
};

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

// What a port's entry opens, first line the device itself: path, stable name, maker, USB ids, serial number.
QString PortTip(const SerialDevice& d) {
    QStringList lines;
    for (const std::string* part : {&d.path, &d.stableName}) {
        const QString text = QString::fromStdString(*part);
        if (!text.isEmpty() && !lines.contains(text)) lines << text;
    }
    QStringList about;
    for (const std::string* part : {&d.manufacturer, &d.usbId, &d.serialNumber})
        if (!part->empty()) about << QString::fromStdString(*part);
    if (!about.isEmpty()) lines << about.join("  ");
    return lines.join("\n");
}

void ShowPortTip(QComboBox* box) {
    const int i = box->currentIndex();
    box->setToolTip(i < 0 ? QString()
                          : PlainTip(box->itemText(i) + "\n" + box->itemData(i, Qt::ToolTipRole).toString()));
}

QLineEdit* ReadOnlyEdit(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(true);
    return edit;
}

}  // namespace

void MainWindow::LoadArtwork() {
    const qreal dpr = devicePixelRatioF();
    artRatio_ = dpr;
    for (QPixmap& p : art_) p = QPixmap();
    for (const ControllerItem& item : model().items) {
        for (int id : {item.upBitmapId, item.downBitmapId})
            if (id > 0 && id < static_cast<int>(art_.size()) && art_[static_cast<std::size_t>(id)].isNull())
                art_[static_cast<std::size_t>(id)] = RenderArtwork(id, dpr);
    }
}

// Each copy of the program running already moves this window one step further down and right of the
// screen's centre, so that a window on another settings file does not hide the first one exactly. The steps
// start again at the centre where the next one would leave the screen.
QPoint MainWindow::CascadePlace(const QRect& available, const QSize& size, int others) {
    constexpr int kStep = 32;
    const QPoint centre(available.x() + (available.width() - size.width()) / 2,
                        available.y() + (available.height() - size.height()) / 2);
    const int room = std::min(available.right() + 1 - size.width() - centre.x(),
                              available.bottom() + 1 - size.height() - centre.y());
    const int steps = std::max(1, room / kStep + 1);
    const int offset = (std::max(others, 0) % steps) * kStep;
    return centre + QPoint(offset, offset);
}

namespace {

// The DISPLAY a process of ours was started with ("" when it has none or is not ours to read).
std::string DisplayOf(const std::filesystem::path& proc) {
    std::ifstream variables(proc / "environ", std::ios::binary);
    for (std::string entry; std::getline(variables, entry, '\0');)
        if (entry.rfind("DISPLAY=", 0) == 0) return entry.substr(8);
    return {};
}

// Other copies of this program on this display (their environment is readable to their own user only).
int OtherCopiesRunning() {
    std::error_code ec;
    std::string mine;
    std::getline(std::ifstream("/proc/self/comm"), mine);
    const std::string display = DisplayOf("/proc/self");
    const std::string self = std::to_string(::getpid());
    int count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string pid = it->path().filename().string();
        if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string comm;
        if (std::getline(std::ifstream(it->path() / "comm"), comm) && comm == mine &&
            DisplayOf(it->path()) == display)
            ++count;
    }
    return count;
}

}  // namespace

void MainWindow::BuildControls() {
    setFixedSize(800, 600);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(CascadePlace(screen->availableGeometry(), size(), OtherCopiesRunning()));
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
    portCombo_ = Place(new MiddleElidedComboBox(this), 399, 259, 48, 14);
    connectButton_ = Place(new QPushButton(Tr(Msg::kConnect), this), 395, 285, 56, 14);
    operationButton_ = Place(new QPushButton(Tr(Msg::kOperationSetting), this), 395, 307, 56, 14);
    axisLine_ = Place(ReadOnlyEdit(this), 6, 9, 40, 14);
    axisLine_->setMaxLength(62);
    axisLine_->hide();
    legendCheck_ = Place(new QCheckBox(Tr(Msg::kKeyboardSetting), this), 373, 9, 77, 10);
    keyboardStatus_ = Place(ReadOnlyEdit(this), 353, 47, 99, 14);
    gamepadStatus_ = Place(ReadOnlyEdit(this), 353, 67, 99, 14);
    // Each box shows either of its two texts whole: a smaller font where the longest needs it.
    QLineEdit* const statusBoxes[] = {keyboardStatus_, gamepadStatus_};
    FitStatusFont(statusBoxes,
                  {Tr(Msg::kKeyboardReady), Tr(Msg::kKeyboardNotReady), Tr(Msg::kGamepadReady),
                   Tr(Msg::kGamepadNotReady)},
                  9);
    soundList_ = Place(new QTreeWidget(this), 6, 63, 81, 185);
    batteryMeter_ = Place(new BatteryMeter(this), 168, 147, 116, 14);
    // Room for the state and its reason on two lines and the device on a third.
    linkNote_ = Plain(new QLabel(this));
    QFont bold = linkNote_->font();
    bold.setBold(true);
    linkNote_->setFont(bold);
    PlaceNote(linkNote_, batteryMeter_);
    linkNote_->setStyleSheet("color: #a00000;");
    linkNote_->hide();
    BuildLowerControls();
}

// The sound buttons, the slider block, CLOSE and the hidden ones; then tab order and the help menu.
void MainWindow::BuildLowerControls() {
    soundButton_ = Place(new QPushButton(Tr(Msg::kSoundSetting), this), 8, 257, 50, 14);
    soundStopButton_ = Place(new QPushButton(Tr(Msg::kSoundStop), this), 8, 275, 50, 14);
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
    closeButton_ = Place(new QPushButton(Tr(Msg::kClose), this), 394, 359, 57, 16);
    okButton_ = Place(new QPushButton("OK", this), 397, 377, 50, 16);
    okButton_->setEnabled(false);
    okButton_->hide();
    batteryCheck_ = Place(new QCheckBox(Tr(Msg::kBatteryDisplay), this), 305, 149, 82, 10);
    batteryCheck_->hide();
    for (QPushButton* b : {connectButton_, operationButton_, soundButton_, soundStopButton_, xButton_,
                           yButton_, closeButton_, okButton_}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        FitCaption(b, b->width() - 6);
    }
    batteryMeter_->setFocusPolicy(Qt::NoFocus);
    const QWidget* order[] = {portCombo_,       connectButton_,    operationButton_, legendCheck_,
                              keyboardStatus_,  gamepadStatus_,    soundList_,       soundButton_,
                              soundStopButton_, selfNeutralCheck_, resolutionCombo_, xButton_,
                              sliderX_,         yButton_,          sliderY_,         closeButton_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));

    helpMenu_ = new QMenu(this);
    helpMenu_->addAction(Tr(Msg::kMenuManual), this, &MainWindow::OpenManual);
    helpMenu_->addAction(Tr(Msg::kMenuAbout), this, &MainWindow::ShowAbout);
    BuildLinkControls();
    // Last, so that the entries above keep their places.
    helpMenu_->addSeparator();
    helpMenu_->addAction(Tr(Msg::kMenuSaveSettingsAs), this, &MainWindow::SaveSettingsAs);
    // After every older entry, whose places users and scripts know.
    BuildMatchControls();
}

void MainWindow::ConnectSignals() {
    connect(portCombo_, &QComboBox::currentIndexChanged, this, [this] {
        ShowPortTip(portCombo_);
        FitPortBox();
    });
    connect(connectButton_, &QPushButton::clicked, this, &MainWindow::ConnectOrDisconnect);
    connect(operationButton_, &QPushButton::clicked, this, &MainWindow::OnOperationSetting);
    connect(soundButton_, &QPushButton::clicked, this, &MainWindow::OnSoundSetting);
    connect(closeButton_, &QPushButton::clicked, this, &QDialog::reject);
    connect(legendCheck_, &QCheckBox::toggled, this, [this] { update(); });
    connect(xButton_, &QPushButton::clicked, this, &MainWindow::NeutralX);
    connect(yButton_, &QPushButton::clicked, this, &MainWindow::NeutralY);
    connect(soundStopButton_, &QPushButton::clicked, this, [this] { session_->StopSound(); });
    connect(soundList_, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { ToggleSound(soundList_->indexOfTopLevelItem(item)); });
    soundList_->installEventFilter(new KeyToggle(
        soundList_, [this] { ToggleSound(soundList_->indexOfTopLevelItem(soundList_->currentItem())); }));
    connect(resolutionCombo_, &QComboBox::currentIndexChanged, this, [this](int index) {
        session_->SetResolution(index);
        SetupSliders();
    });
    connect(session_.get(), &ControlSession::stateChanged, this, &MainWindow::ShowState);
    connect(&tick_, &QTimer::timeout, this, &MainWindow::ControllerTick);
}

void MainWindow::SetupSliders() {
    const int d = model().divisor();
    for (QSlider* s : {sliderX_, sliderY_}) {
        const QSignalBlocker block(s);
        s->setRange(0, 256 / d);
        s->setValue(128 / d);
        s->setTickInterval(64 / d);
        s->setSingleStep(1);
        s->setPageStep(std::max(1, 16 / d));
    }
}

void MainWindow::FillSoundList() {
    soundList_->setColumnCount(4);
    soundList_->setRootIsDecorated(false);
    soundList_->setSelectionMode(QAbstractItemView::SingleSelection);
    soundList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    soundList_->setHeaderLabels(
        {Tr(Msg::kColumnController), "ON/OFF", Tr(Msg::kColumnSound), Tr(Msg::kColumnRepeat)});
    soundList_->clear();
    const ControllerModel& m = model();
    for (int i = 0; i < m.soundEffectCount; ++i) {
        const SoundEffect& e = m.soundEffects[static_cast<std::size_t>(i)];
        auto* row = new QTreeWidgetItem(soundList_);
        row->setText(0, QString::fromStdString(m.item(e.item).displayName));
    }
    ShowSoundLabels();
}

// Columns 1 to 3: the switch, the sound's name or its file's name, and Repeat.
void MainWindow::ShowSoundLabels() {
    for (int i = 0; i < model().soundEffectCount; ++i) ShowSoundRow(i);
    // The list is narrow: its columns take what their texts need, and it scrolls sideways.
    const int least[4] = {app_.japanese() ? 50 : 60, 40, 100, 100};
    FitColumns(soundList_, least);
}

// The list is too narrow to show a row whole (the sound's name is cut after a few letters, Repeat is out
// of sight), so every cell of a row carries the whole row as its tool tip, the file's path included.
void MainWindow::ShowSoundRow(int row) {
    QTreeWidgetItem* item = soundList_->topLevelItem(row);
    if (item == nullptr || row < 0 || row >= model().soundEffectCount) return;
    const SoundEffect& e = model().soundEffects[static_cast<std::size_t>(row)];
    const QString label = QString::fromStdString(session_->SoundLabel(row));
    item->setText(1, e.enabled ? "ON" : "OFF");
    item->setText(2, label);
    item->setText(3, e.repeat ? "ON" : "OFF");
    // Switched on, but with no file nothing plays: the switch is shown greyed.
    const bool silent = e.file.empty();
    item->setForeground(1,
                        silent ? soundList_->palette().brush(QPalette::Disabled, QPalette::Text) : QBrush());
    auto line = [](const QString& heading, const QString& value) { return heading + ": " + value; };
    QStringList tip{line(soundList_->headerItem()->text(0), item->text(0)),
                    line(soundList_->headerItem()->text(1), Tr(e.enabled ? Msg::kOn : Msg::kOff)),
                    line(soundList_->headerItem()->text(2), silent ? Tr(Msg::kSoundNoFile) : label)};
    if (!silent && label != QString::fromStdString(e.file)) tip << "  " + QString::fromStdString(e.file);
    tip << line(soundList_->headerItem()->text(3), Tr(e.repeat ? Msg::kOn : Msg::kOff));
    const QString text = PlainTip(tip.join('\n'));
    for (int column = 0; column < soundList_->columnCount(); ++column) item->setToolTip(column, text);
}

void MainWindow::FillPortList() {
    const std::vector<std::string> labels = session_->PortLabels();
    const std::vector<SerialDevice>& table = session_->PortTable();
    const int count = static_cast<int>(labels.size());
    const int current = portCombo_->currentIndex();
    if (portCombo_->count() != count) {
        const QSignalBlocker block(portCombo_);
        portCombo_->clear();
        for (int i = 0; i < count; ++i) portCombo_->addItem(QString());
    }
    int widest = 0;
    const QFontMetrics metrics(portCombo_->view()->font());
    for (int i = 0; i < count; ++i) {
        const QString label = QString::fromStdString(labels[static_cast<std::size_t>(i)]);
        if (portCombo_->itemText(i) != label) portCombo_->setItemText(i, label);
        const SerialDevice& entry = table[static_cast<std::size_t>(i)];
        const QString tip =
            entry.kind == SerialDevice::Kind::kSimulated
                ? Tr(Msg::kSimulatedRobotTip)
                      .arg(QString::fromStdString(entry.product), QString::fromStdString(RobotSimulatorLog()))
                : PortTip(entry);
        portCombo_->setItemData(i, tip.isEmpty() ? Tr(Msg::kNoDevice) : PlainTip(tip), Qt::ToolTipRole);
        // An entry that opens nothing stays in the list (PORT stores its index) but is greyed, so that the
        // few that do stand out.
        portCombo_->setItemData(
            i, tip.isEmpty() ? portCombo_->palette().brush(QPalette::Disabled, QPalette::Text) : QVariant(),
            Qt::ForegroundRole);
        widest = std::max(widest, metrics.horizontalAdvance(label));
    }
    // The open list is as wide as its longest entry, up to the window's width less the list's frame (a
    // path of thousands of bytes in [PORTS] is cut in its middle there); the box itself keeps its place.
    portCombo_->view()->setMinimumWidth(std::min(widest + 2 * metrics.averageCharWidth() + 16, width() - 8));
    {
        const QSignalBlocker block(portCombo_);
        portCombo_->setCurrentIndex(session_->PortSelection(current));
    }
    ShowPortTip(portCombo_);
    FitPortBox();
}

// The closed box shows its whole entry ("COM3 — FT232R USB UART (ttyUSB0)"): it grows to the left, over the
// picture's plain grip but never over an item, and its font shrinks a little where that is not room enough;
// an entry still too wide is cut in its middle.
void MainWindow::FitPortBox() {
    const QRect home = DialogUnitsToPixels(399, 259, 48, 14);
    const int leftmost = 606;  // button 2 ends at x 602, button 3 below it at 562
    const QString text = portCombo_->currentText();
    QFont f = font();
    auto room = [&](int width) {
        QStyleOptionComboBox option;
        option.initFrom(portCombo_);
        option.rect = QRect(0, 0, width, home.height());
        return style()
                   ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, portCombo_)
                   .width() -
               4;
    };
    const int widest = home.right() + 1 - leftmost;
    auto needed = [&] {
        const int text_width = QFontMetrics(f).horizontalAdvance(text);
        return std::clamp(home.width() + std::max(0, text_width - room(home.width())), home.width(), widest);
    };
    while (QFontMetrics(f).horizontalAdvance(text) > room(widest) && f.pixelSize() > 9)
        f.setPixelSize(f.pixelSize() - 1);
    portCombo_->setFont(f);
    const int width = needed();
    portCombo_->setGeometry(home.right() + 1 - width, home.y(), width, home.height());
}

}  // namespace zanth
