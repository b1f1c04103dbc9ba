#include "panel/operation_settings_dialog.h"

#include "base/paths.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <cmath>
#include <span>

#include "base/app_context.h"
#include "base/clock.h"
#include "base/reason_text.h"
#include "input/binding_detect.h"
#include "input/devices.h"
#include "input/gamepad_names.h"
#include "input/keyboard_backend.h"
#include "panel/fit_text.h"
#include "panel/plain_text.h"

namespace zanth {
namespace {

// The layout is drawn in dialog units: 1.75 pixels per horizontal unit, 1.5 per vertical one, as the
// main window.
QRect Du(int x, int y, int w, int h) {
    auto px = [](double v) { return static_cast<int>(std::lround(v)); };
    return QRect(px(x * 1.75), px(y * 1.5), px(w * 1.75), px(h * 1.5));
}

QString U8(const std::string& s) {
    return QString::fromStdString(s);
}

constexpr int kDetectMs = 5000;
constexpr int kPadListEvery = 10;       // live view ticks between looks at the pads connected
constexpr std::uint32_t kLitMs = 1000;  // a changed value stays highlighted this long
constexpr int kFirstButtonRow = kDataViewRows - 128;
const QColor kLitColour(255, 236, 160);
const QColor kConflictColour(255, 190, 150);

// The lists' own column widths: columns grow beyond them to what their texts need.
constexpr int kMappingWidthsJa[3] = {100, 70, 100};
constexpr int kMappingWidthsEn[3] = {110, 70, 100};
constexpr int kDataWidths[2] = {150, 100};

QTreeWidget* MakeReportList(QWidget* parent, const QStringList& headings, std::span<const int> widths) {
    auto* list = new QTreeWidget(parent);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setHeaderLabels(headings);
    list->header()->setSectionsMovable(false);
    list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (std::size_t c = 0; c < widths.size(); ++c) list->setColumnWidth(static_cast<int>(c), widths[c]);
    return list;
}

}  // namespace

OperationSettingsDialog::OperationSettingsDialog(const AppContext& app, const GamepadSource& gamepads,
                                                 std::vector<MappingEntry> rows, QWidget* parent)
    : QDialog(parent),
      app_(app),
      gamepads_(gamepads),
      names_(gamepads.names()),
      rows_(std::move(rows)),
      liveGamepad_(gamepads.NewGamepad()) {
    BuildControls();
    FillControls();
    ConnectSignals();
}

void OperationSettingsDialog::BuildControls() {
    const AppContext& app = app_;
    auto text = [&](Msg id) { return QString::fromUtf8(app.Tr(id)); };

    setWindowTitle(text(Msg::kOperationTitle));
    setFixedSize(Du(0, 0, 437, 267).size());

    // Creation order is the tab order: list, keyboard, game pad, data view, then the buttons.
    settingGroup_ = new QGroupBox(text(Msg::kOperationTitle), this);
    settingGroup_->setGeometry(Du(7, 7, 217, 253));
    mappingList_ = MakeReportList(
        this,
        {text(Msg::kOperationColumnController), text(Msg::kOperationKeyboard), text(Msg::kOperationGamepad)},
        app.japanese() ? kMappingWidthsJa : kMappingWidthsEn);
    mappingList_->setGeometry(Du(14, 23, 202, 167));

    // Each label stands level with its combo box and reaches up to it, so that a wider font does not clip it.
    auto placeRow = [](QLabel* label, QComboBox* combo, QRect labelRect, QRect comboRect) {
        combo->setGeometry(comboRect.x(), comboRect.y(), comboRect.width(), combo->sizeHint().height());
        label->setGeometry(labelRect.x(), combo->y(), combo->x() - labelRect.x() - 4, combo->height());
    };
    keyLabel_ = new QLabel(text(Msg::kOperationKeyboard), this);
    keyCombo_ = new QComboBox(this);
    placeRow(keyLabel_, keyCombo_, Du(40, 203, 34, 8), Du(104, 199, 69, 12));
    padLabel_ = new QLabel(text(Msg::kOperationGamepad), this);
    padCombo_ = new QComboBox(this);
    placeRow(padLabel_, padCombo_, Du(40, 223, 38, 8), Du(103, 220, 69, 12));
    keyLabel_->setBuddy(keyCombo_);
    padLabel_->setBuddy(padCombo_);
    detectButton_ = new QPushButton(text(Msg::kOperationDetect), this);
    detectButton_->setGeometry(Du(178, 208, 40, 14));
    detectButton_->setToolTip(text(Msg::kOperationDetectHint));

    dataGroup_ = new QGroupBox(text(Msg::kOperationDataGroup), this);
    dataGroup_->setGeometry(Du(229, 7, 201, 233));
    padChoiceLabel_ = new QLabel(text(Msg::kOperationPadInUse), this);
    padChoice_ = new QComboBox(this);
    padChoice_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    placeRow(padChoiceLabel_, padChoice_, Du(235, 22, 50, 8), Du(292, 20, 130, 12));
    padChoiceLabel_->setBuddy(padChoice_);
    rumble_ = new QCheckBox(text(Msg::kOperationRumble), this);
    rumble_->setGeometry(Du(235, 35, 187, 10));
    rumble_->setToolTip(text(Msg::kOperationRumbleHint));
    rumble_->setChecked(true);
    dataList_ = MakeReportList(
        this, {text(Msg::kOperationColumnButtonAxis), text(Msg::kOperationColumnValue)}, kDataWidths);
    dataList_->setGeometry(Du(235, 48, 187, 184));

    saveButton_ = new QPushButton(text(Msg::kOperationSave), this);
    saveButton_->setGeometry(Du(105, 244, 50, 14));
    loadButton_ = new QPushButton(text(Msg::kOperationLoad), this);
    loadButton_->setGeometry(Du(163, 244, 50, 14));
    okButton_ = new QPushButton(text(Msg::kOk), this);
    okButton_->setGeometry(Du(319, 246, 50, 14));
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(text(Msg::kCancel), this);
    cancelButton_->setGeometry(Du(380, 246, 50, 14));
}

void OperationSettingsDialog::FillControls() {
    for (const KeyName& k : app_.keyNames) keyCombo_->addItem(U8(k.name));
    FillMappingList();
    for (const CodeName& b : names_.buttonNames) padCombo_->addItem(U8(b.name));
    SelectRow(0);

    const auto labels = DataViewLabels(app_.language);
    QList<QTreeWidgetItem*> dataRows;
    dataRows.reserve(kDataViewRows);
    for (const std::string& label : labels) dataRows.append(new QTreeWidgetItem({U8(label), QString()}));
    dataList_->addTopLevelItems(dataRows);
    FitColumns(dataList_, kDataWidths);
}

void OperationSettingsDialog::ConnectSignals() {
    connect(mappingList_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        OnRowChanged(item ? mappingList_->indexOfTopLevelItem(item) : -1);
    });
    connect(keyCombo_, &QComboBox::currentIndexChanged, this, &OperationSettingsDialog::OnKeyboardChoice);
    connect(padCombo_, &QComboBox::currentIndexChanged, this, &OperationSettingsDialog::OnGamepadChoice);
    connect(padChoice_, &QComboBox::currentIndexChanged, this, &OperationSettingsDialog::OnPadChoice);
    connect(detectButton_, &QPushButton::clicked, this,
            [this] { detecting_ ? StopDetect() : StartDetect(); });
    connect(saveButton_, &QPushButton::clicked, this, &OperationSettingsDialog::OnSave);
    connect(loadButton_, &QPushButton::clicked, this, &OperationSettingsDialog::OnLoad);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, &OperationSettingsDialog::OnTimer);
    detectTimer_.setSingleShot(true);
    detectTimer_.setInterval(kDetectMs);
    connect(&detectTimer_, &QTimer::timeout, this, &OperationSettingsDialog::StopDetect);
}

OperationSettingsDialog::~OperationSettingsDialog() {
    StopDetect();
    timer_.stop();
    liveGamepad_->Shutdown();
}

void OperationSettingsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (liveStarted_) return;
    // The gamepad is opened when the dialog appears, not when it is built: the caller releases its own
    // gamepad in between.
    liveStarted_ = true;
    FillPadChoices();
    liveReady_ = liveGamepad_->Create([this] { return isActiveWindow(); }, 0);
    ShowPadName();
    timer_.start();
    mappingList_->setFocus();
}

void OperationSettingsDialog::done(int result) {
    StopDetect();
    timer_.stop();
    liveGamepad_->Shutdown();
    liveReady_ = false;
    liveStarted_ = false;
    QDialog::done(result);
}

void OperationSettingsDialog::FillMappingList() {
    const QSignalBlocker blocker(mappingList_);
    mappingList_->clear();
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows_.size()));
    for (const MappingEntry& row : rows_) {
        const MappingRowTexts t = RowTexts(row, app_, names_);
        items.append(new QTreeWidgetItem({U8(row.name), U8(t.key), U8(t.pad)}));
    }
    mappingList_->addTopLevelItems(items);
    current_ = -1;
    MarkConflicts();
    FitMappingColumns();
}

void OperationSettingsDialog::FitMappingColumns() {
    FitColumns(mappingList_, app_.japanese() ? kMappingWidthsJa : kMappingWidthsEn);
}

void OperationSettingsDialog::SelectRow(int r) {
    QTreeWidgetItem* item = mappingList_->topLevelItem(r);
    if (!item) return;
    {
        const QSignalBlocker blocker(mappingList_);
        mappingList_->setCurrentItem(item);
        mappingList_->scrollToItem(item);
    }
    OnRowChanged(r);
}

void OperationSettingsDialog::SetCell(int r, int column, const std::string& text) {
    if (QTreeWidgetItem* item = mappingList_->topLevelItem(r)) item->setText(column, U8(text));
    FitMappingColumns();
}

void OperationSettingsDialog::OnRowChanged(int r) {
    if (r < 0 || r >= static_cast<int>(rows_.size())) return;
    if (r != current_) StopDetect();  // a wait belongs to the row it was started on
    const RowChoices c = ChoicesForRow(r, rows_[static_cast<std::size_t>(r)], app_, names_);
    const QSignalBlocker keyBlocker(keyCombo_);
    const QSignalBlocker padBlocker(padCombo_);
    padCombo_->clear();
    if (c.padList == PadChoices::kButtons) {
        for (const CodeName& b : names_.buttonNames) padCombo_->addItem(U8(b.name));
    } else if (c.padList == PadChoices::kAxes) {
        for (const CodeName& a : names_.axisNames) padCombo_->addItem(U8(a.name));
    }
    // A position the combo does not hold leaves it without a selection.
    auto select = [](QComboBox* combo, int position) {
        combo->setCurrentIndex(position >= 0 && position < combo->count() ? position : -1);
    };
    keyCombo_->setEnabled(c.keyEnabled);
    select(keyCombo_, c.keySelection);
    padCombo_->setEnabled(c.padEnabled);
    select(padCombo_, c.padSelection);
    current_ = r;
    detectButton_->setEnabled(RowTakes(Taken::kKey) || RowTakes(Taken::kButton) || RowTakes(Taken::kAxis));
}

void OperationSettingsDialog::OnKeyboardChoice(int position) {
    if (current_ < 0 || current_ >= static_cast<int>(rows_.size())) return;
    MappingEntry& row = rows_[static_cast<std::size_t>(current_)];
    row.keyCode = KeyCodeForChoice(app_, position);
    if (auto name = app_.FindNameByScanCode(row.keyCode)) SetCell(current_, 1, *name);
    MarkConflicts();
}

void OperationSettingsDialog::OnGamepadChoice(int position) {
    if (current_ < 0 || current_ >= static_cast<int>(rows_.size())) return;
    if (auto name = ApplyGamepadChoice(rows_[static_cast<std::size_t>(current_)], position, names_))
        SetCell(current_, 2, *name);
    MarkConflicts();
}

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

void OperationSettingsDialog::OnSave() {
    const QString path = ChooseFile(true);
    if (path.isEmpty()) return;
    const SaveResult result = SaveMappingFile(QFile::encodeName(path).toStdString(), rows_, namesEncoding_);
    if (!result.ok) {
        ShowError(QString::fromUtf8(app_.Tr(Msg::kOperationSaveFailed)), path, result.error);
    }
}

void OperationSettingsDialog::OnLoad() {
    StopDetect();
    const QString path = ChooseFile(false);
    if (!path.isEmpty()) {
        const MappingLoad loaded = LoadMappingFile(QFile::encodeName(path).toStdString(), rows_);
        const QString failed = QString::fromUtf8(app_.Tr(Msg::kOperationLoadFailed));
        if (loaded.outcome == MappingLoad::kUnreadable) ShowError(failed, path, loaded.error);
        if (loaded.outcome == MappingLoad::kNotMapping)
            ShowError(failed, path, app_.Tr(Msg::kOperationNotMappingFile));
        if (loaded.ok()) namesEncoding_ = loaded.encoding;
        if (loaded.ok() && !loaded.keptSections.empty()) {
            std::string names;
            for (const std::string& section : loaded.keptSections)
                names += (names.empty() ? "" : ", ") + section;
            ShowError(QString::fromUtf8(app_.Tr(Msg::kOperationSectionsKept)).arg(U8(names)), path, "");
        }
    }
    FillMappingList();
    SelectRow(0);
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

void OperationSettingsDialog::RefreshRow(int r) {
    const MappingRowTexts t = RowTexts(rows_[static_cast<std::size_t>(r)], app_, names_);
    SetCell(r, 1, t.key);
    SetCell(r, 2, t.pad);
}

void OperationSettingsDialog::MarkConflicts() {
    const std::vector<RowConflicts> conflicts = FindConflicts(rows_);
    auto mark = [&](QTreeWidgetItem* item, int column, const std::vector<int>& others) {
        QStringList names;
        for (int o : others) names << U8(rows_[static_cast<std::size_t>(o)].name);
        const QString tip =
            names.isEmpty()
                ? QString()
                : PlainTip(QString::fromUtf8(app_.Tr(Msg::kOperationConflict)).arg(names.join(", ")));
        if (item->toolTip(column) == tip) return;
        item->setToolTip(column, tip);
        item->setBackground(column, names.isEmpty() ? QBrush() : QBrush(kConflictColour));
    };
    for (std::size_t r = 0; r < conflicts.size(); ++r) {
        QTreeWidgetItem* item = mappingList_->topLevelItem(static_cast<int>(r));
        if (!item) continue;
        mark(item, 1, conflicts[r].key);
        mark(item, 2, conflicts[r].button);
    }
}

QString OperationSettingsDialog::ChooseFile(bool save) {
    if (chooser_) return chooser_(save);
    // The Data folder beside portable settings, else the user's data folder; made on first use.
    MakeFolders(app_.dataFolder);
    const QString start = QString::fromStdString(app_.dataFolder);
    QFileDialog dialog(this, QString::fromUtf8(app_.Tr(save ? Msg::kOperationSaveAs : Msg::kOperationOpen)),
                       start, U8(ToQtFileFilter(app_.Tr(Msg::kOperationFileFilter))));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix("kjd");
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void OperationSettingsDialog::ShowError(const QString& what, const QString& path, const std::string& reason) {
    lastError_ = what + "\n" + QDir::toNativeSeparators(path);
    if (!reason.empty()) lastError_ += "\n" + U8(ReasonText(reason, app_.language));
    if (!messageBoxes_) return;
    ShowPlainBox(this, QMessageBox::Warning, QString::fromUtf8(app_.Tr(Msg::kCaptionWarning)), lastError_);
}

}  // namespace zanth
