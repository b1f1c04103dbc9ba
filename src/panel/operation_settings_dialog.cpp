// The operation settings dialog: its controls, the rows and their bindings, and the mapping files. What it
// reads from the devices (the live gamepad view, the pad in use, Detect) is in operation_settings_live.cpp.
#include "panel/operation_settings_dialog.h"

#include "base/paths.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <cmath>
#include <span>

#include "base/app_context.h"
#include "base/reason_text.h"
#include "input/binding_detect.h"
#include "input/devices.h"
#include "input/gamepad_names.h"
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
    setFixedSize(Du(0, 0, 437, 285).size());

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
    BuildStopRow();
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
