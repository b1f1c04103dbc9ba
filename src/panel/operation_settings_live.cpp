// The operation settings dialog's reading of the devices: the live view of the gamepad, the pad in use, and
// Detect, which binds the next key, button or axis the user works.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <algorithm>

#include "base/app_context.h"
#include "base/clock.h"
#include "input/binding_detect.h"
#include "input/devices.h"
#include "input/gamepad_names.h"
#include "input/keyboard_backend.h"
#include "panel/operation_settings_dialog.h"
#include "panel/plain_text.h"

namespace zanth {
namespace {

QString U8(const std::string& s) {
    return QString::fromStdString(s);
}

constexpr int kPadListEvery = 10;       // live view ticks between looks at the pads connected
constexpr std::uint32_t kLitMs = 1000;  // a changed value stays highlighted this long
constexpr int kFirstButtonRow = kDataViewRows - 128;
const QColor kLitColour(255, 236, 160);

}  // namespace

// ---- The live view

void OperationSettingsDialog::OnTimer() {
    if (++padListTicks_ >= kPadListEvery) {
        padListTicks_ = 0;
        FillPadChoices();
    }
    if (!liveReady_) {
        // Nothing is shown on the tick that opens the gamepad; the next one reads it.
        liveReady_ = liveGamepad_->Create([this] { return isActiveWindow(); }, 0);
        ShowPadName();
        return;
    }
    if (liveGamepad_->Poll() != 0) {
        lastReading_.reset();  // keep the last reading on screen
        return;
    }
    const GamepadState& now = liveGamepad_->state;
    ShowLiveValues(now);
    if (detecting_ && lastReading_) DetectOnPad(*lastReading_, now);
    lastReading_ = now;
}

void OperationSettingsDialog::ShowLiveValues(const GamepadState& state) {
    const auto values = DataViewValues(state);
    const std::uint32_t now = TickCount();
    bool buttonPressed = false;
    for (int i = 0; i < kDataViewRows; ++i) {
        const auto n = static_cast<std::size_t>(i);
        QTreeWidgetItem* item = dataList_->topLevelItem(i);
        if (!item) continue;
        if (values[n] != shown_[n]) {
            // The first reading fills the view; only later ones count as the hand moving something.
            if (!shown_[n].empty()) {
                changedAt_[n] = now;
                moved_[n] = true;
                if (i >= kFirstButtonRow && state.buttons[n - kFirstButtonRow] != 0) buttonPressed = true;
            }
            shown_[n] = values[n];
            item->setText(1, U8(values[n]));
        }
        const bool lit = moved_[n] && now - changedAt_[n] < kLitMs;
        if (lit == lit_[n]) continue;
        lit_[n] = lit;
        for (int column = 0; column < 2; ++column)
            item->setBackground(column, lit ? QBrush(kLitColour) : QBrush());
    }
    if (!buttonPressed) return;
    // Buttons are listed last: bring the ones just worked into view.
    for (int i = kFirstButtonRow; i < kDataViewRows; ++i) {
        if (lit_[static_cast<std::size_t>(i)]) {
            dataList_->scrollToItem(dataList_->topLevelItem(i));
            break;
        }
    }
}

void OperationSettingsDialog::ShowPadName() {
    const std::string name = liveReady_ ? liveGamepad_->Description() : std::string();
    if (name == shownPad_) return;
    shownPad_ = name;
    const QString base = QString::fromUtf8(app_.Tr(Msg::kOperationDataGroup));
    const QString full = name.empty() ? base : base + ": " + U8(name);
    dataGroup_->setToolTip(name.empty() ? QString() : PlainTip(full));
    dataGroup_->setTitle(
        dataGroup_->fontMetrics().elidedText(full, Qt::ElideRight, dataGroup_->width() - 16));
}

// ---- The pad in use

void OperationSettingsDialog::setPadChoice(const PadChoice& pad) {
    chosen_ = pad.any() ? PadChoice{} : pad;
    liveGamepad_->Choose(chosen_);
    listedPads_.clear();  // listed afresh with this choice selected
    if (liveStarted_) FillPadChoices();
}

void OperationSettingsDialog::setRumble(bool on) {
    rumble_->setChecked(on);
}

bool OperationSettingsDialog::rumble() const {
    return rumble_->isChecked();
}

void OperationSettingsDialog::FillPadChoices() {
    const std::vector<PadInfo> pads = gamepads_.ConnectedPads();
    std::vector<PadChoice> ids;
    for (const PadInfo& pad : pads) ids.push_back(pad.id);
    // An open list is never changed under the user's hand.
    if ((ids == listedPads_ && padChoice_->count() > 0) || padChoice_->view()->isVisible()) return;
    listedPads_ = ids;
    const QSignalBlocker blocker(padChoice_);
    padChoice_->clear();
    padChoice_->addItem(QString::fromUtf8(app_.Tr(Msg::kOperationAnyPad)));
    auto add = [&](const QString& label, const PadChoice& id) {
        padChoice_->addItem(label, QStringList{U8(id.guid), U8(id.name), U8(id.place)});
    };
    const int chosen = chosen_.any() ? -1 : PickPad(ids, chosen_);
    for (std::size_t i = 0; i < pads.size(); ++i) {
        const PadInfo& pad = pads[i];
        const Msg kind = pad.controller ? Msg::kGamepadKindController : Msg::kGamepadKindJoystick;
        // Twins of one model are told apart by where they are.
        const bool twin = std::count_if(ids.begin(), ids.end(),
                                        [&](const PadChoice& p) { return p.guid == pad.id.guid; }) > 1;
        const std::string id = pad.shortId + (twin && !pad.id.place.empty() ? " @ " + pad.id.place : "");
        add(U8(pad.id.name) + " \u2014 " + QString::fromUtf8(app_.Tr(kind)) + " (" + U8(id) + ")", pad.id);
        if (static_cast<int>(i) == chosen) padChoice_->setCurrentIndex(padChoice_->count() - 1);
    }
    if (!chosen_.any() && chosen < 0) {  // kept while it is away, so that OK does not lose it
        add(QString::fromUtf8(app_.Tr(Msg::kOperationPadNotConnected)).arg(U8(chosen_.name)), chosen_);
        padChoice_->setCurrentIndex(padChoice_->count() - 1);
    }
    if (chosen_.any()) padChoice_->setCurrentIndex(0);
    padChoice_->setToolTip(PlainTip(padChoice_->currentText()));
}

void OperationSettingsDialog::OnPadChoice(int position) {
    const QStringList id = padChoice_->itemData(position).toStringList();
    chosen_ = id.size() == 3 ? PadChoice{id[0].toStdString(), id[1].toStdString(), id[2].toStdString()}
                             : PadChoice{};
    padChoice_->setToolTip(PlainTip(padChoice_->currentText()));
    // The live view follows the choice: the next tick opens the chosen pad.
    liveGamepad_->Choose(chosen_);
    liveGamepad_->Shutdown();
    liveReady_ = false;
    lastReading_.reset();
    ShowPadName();
}

// ---- Bind by pressing

bool OperationSettingsDialog::RowTakes(Taken what) const {
    if (current_ < 0 || current_ >= static_cast<int>(rows_.size())) return false;
    // The same rule as the combo boxes: a row takes by pressing what it could be given by choosing.
    const RowChoices c = ChoicesForRow(current_, rows_[static_cast<std::size_t>(current_)], app_, names_);
    switch (what) {
        case Taken::kKey:
            return c.keyEnabled;
        case Taken::kButton:
            return c.padEnabled && c.padList == PadChoices::kButtons;
        case Taken::kAxis:
            return c.padEnabled && c.padList == PadChoices::kAxes;
    }
    return false;
}

void OperationSettingsDialog::StartDetect() {
    if (detecting_ || !detectButton_->isEnabled()) return;
    detecting_ = true;
    detectButton_->setText(QString::fromUtf8(app_.Tr(Msg::kOperationDetectWaiting)));
    // Keys go to the wait, not to the focused control or the dialog's own Enter and Escape.
    qApp->installEventFilter(this);
    detectTimer_.start();
}

void OperationSettingsDialog::StopDetect() {
    if (!detecting_) return;
    detecting_ = false;
    detectTimer_.stop();
    qApp->removeEventFilter(this);
    detectButton_->setText(QString::fromUtf8(app_.Tr(Msg::kOperationDetect)));
}

bool OperationSettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (!detecting_ || (type != QEvent::KeyPress && type != QEvent::ShortcutOverride))
        return QDialog::eventFilter(watched, event);
    event->accept();  // a shortcut overridden, a press taken
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (type != QEvent::KeyPress || key->isAutoRepeat()) return true;
    if (key->key() == Qt::Key_Escape) {
        StopDetect();
        return true;
    }
    const int scanCode = ScanCodeFromNative(key->nativeScanCode());
    // Keys the key table does not name cannot be bound; the wait goes on.
    if (scanCode > 0 && app_.FindIndexByScanCode(scanCode) > 0 && RowTakes(Taken::kKey))
        Bind(Taken::kKey, scanCode);
    return true;
}

void OperationSettingsDialog::DetectOnPad(const GamepadState& before, const GamepadState& now) {
    const int namedButtons = static_cast<int>(names_.buttonNames.size()) - 1;
    if (RowTakes(Taken::kButton)) {
        if (auto b = NewlyPressedButton(before, now, namedButtons)) return Bind(Taken::kButton, *b);
    }
    if (RowTakes(Taken::kAxis)) {
        if (auto a = AxisLeavingDeadZone(before, now)) return Bind(Taken::kAxis, *a);
    }
}

void OperationSettingsDialog::Bind(Taken what, int code) {
    MappingEntry& row = rows_[static_cast<std::size_t>(current_)];
    if (what == Taken::kKey) row.keyCode = code;
    if (what == Taken::kButton) row.padButton = code;
    if (what == Taken::kAxis) row.axis = code;
    StopDetect();
    RefreshRow(current_);
    OnRowChanged(current_);  // the combo boxes show the new binding
    MarkConflicts();
}

}  // namespace zanth
