#include "panel/key_joy_setup.h"

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

#include "base/app.h"

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

QTreeWidget* MakeReportList(QWidget* parent, const QStringList& headings, std::initializer_list<int> widths) {
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
    int column = 0;
    for (int w : widths) list->setColumnWidth(column++, w);
    return list;
}

}  // namespace

CKeyJoySetup::CKeyJoySetup(const CPadoraApp& app, const CJoystick& mainJoystick,
                           std::vector<MappingEntry> rows, QWidget* parent)
    : QDialog(parent), app_(app), names_(mainJoystick), rows_(std::move(rows)), liveJoystick_(app.language) {
    auto text = [&](Msg id) { return QString::fromUtf8(app.Tr(id)); };

    setWindowTitle(text(Msg::kKeyJoyTitle));
    setFixedSize(Du(0, 0, 437, 267).size());

    // Creation order is the tab order: list, keyboard, game pad, data view, then the buttons.
    settingGroup_ = new QGroupBox(text(Msg::kKeyJoyTitle), this);
    settingGroup_->setGeometry(Du(7, 7, 217, 253));
    mappingList_ = MakeReportList(
        this, {text(Msg::kKeyJoyColumnController), text(Msg::kKeyJoyKeyboard), text(Msg::kKeyJoyGamepad)},
        {app.japanese() ? 100 : 110, 70, 100});
    mappingList_->setGeometry(Du(14, 23, 202, 167));

    // Each label stands level with its combo box and reaches up to it, so that a wider font does not clip it.
    auto placeRow = [](QLabel* label, QComboBox* combo, QRect labelRect, QRect comboRect) {
        combo->setGeometry(comboRect.x(), comboRect.y(), comboRect.width(), combo->sizeHint().height());
        label->setGeometry(labelRect.x(), combo->y(), combo->x() - labelRect.x() - 4, combo->height());
    };
    keyLabel_ = new QLabel(text(Msg::kKeyJoyKeyboard), this);
    keyCombo_ = new QComboBox(this);
    placeRow(keyLabel_, keyCombo_, Du(40, 203, 34, 8), Du(104, 199, 69, 12));
    padLabel_ = new QLabel(text(Msg::kKeyJoyGamepad), this);
    padCombo_ = new QComboBox(this);
    placeRow(padLabel_, padCombo_, Du(40, 223, 38, 8), Du(103, 220, 69, 12));
    keyLabel_->setBuddy(keyCombo_);
    padLabel_->setBuddy(padCombo_);

    dataGroup_ = new QGroupBox(text(Msg::kKeyJoyDataGroup), this);
    dataGroup_->setGeometry(Du(229, 7, 201, 233));
    dataList_ =
        MakeReportList(this, {text(Msg::kKeyJoyColumnButtonAxis), text(Msg::kKeyJoyColumnValue)}, {150, 100});
    dataList_->setGeometry(Du(235, 22, 187, 210));

    saveButton_ = new QPushButton(text(Msg::kKeyJoySave), this);
    saveButton_->setGeometry(Du(105, 244, 50, 14));
    loadButton_ = new QPushButton(text(Msg::kKeyJoyLoad), this);
    loadButton_->setGeometry(Du(163, 244, 50, 14));
    okButton_ = new QPushButton(text(Msg::kOk), this);
    okButton_->setGeometry(Du(319, 246, 50, 14));
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(text(Msg::kCancel), this);
    cancelButton_->setGeometry(Du(380, 246, 50, 14));

    for (const KeyName& k : app_.keyNames) keyCombo_->addItem(U8(k.name));
    FillMappingList();
    for (const CodeName& b : names_.buttonNames) padCombo_->addItem(U8(b.name));
    SelectRow(0);

    const auto labels = DataViewLabels(app_.language);
    QList<QTreeWidgetItem*> dataRows;
    dataRows.reserve(kDataViewRows);
    for (const std::string& label : labels) dataRows.append(new QTreeWidgetItem({U8(label), QString()}));
    dataList_->addTopLevelItems(dataRows);

    connect(mappingList_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        OnRowChanged(item ? mappingList_->indexOfTopLevelItem(item) : -1);
    });
    connect(keyCombo_, &QComboBox::currentIndexChanged, this, &CKeyJoySetup::OnKeyboardChoice);
    connect(padCombo_, &QComboBox::currentIndexChanged, this, &CKeyJoySetup::OnGamepadChoice);
    connect(saveButton_, &QPushButton::clicked, this, &CKeyJoySetup::OnSave);
    connect(loadButton_, &QPushButton::clicked, this, &CKeyJoySetup::OnLoad);
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(100);
    connect(&timer_, &QTimer::timeout, this, &CKeyJoySetup::OnTimer);
}

CKeyJoySetup::~CKeyJoySetup() {
    timer_.stop();
    liveJoystick_.Shutdown();
}

void CKeyJoySetup::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (liveStarted_) return;
    // The gamepad is opened when the dialog appears, not when it is built: the caller releases its own
    // gamepad in between.
    liveStarted_ = true;
    liveReady_ = liveJoystick_.Create([this] { return isActiveWindow(); }, 0);
    timer_.start();
    mappingList_->setFocus();
}

void CKeyJoySetup::done(int result) {
    timer_.stop();
    liveJoystick_.Shutdown();
    liveReady_ = false;
    liveStarted_ = false;
    QDialog::done(result);
}

void CKeyJoySetup::FillMappingList() {
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
}

void CKeyJoySetup::SelectRow(int r) {
    QTreeWidgetItem* item = mappingList_->topLevelItem(r);
    if (!item) return;
    {
        const QSignalBlocker blocker(mappingList_);
        mappingList_->setCurrentItem(item);
        mappingList_->scrollToItem(item);
    }
    OnRowChanged(r);
}

void CKeyJoySetup::SetCell(int r, int column, const std::string& text) {
    if (QTreeWidgetItem* item = mappingList_->topLevelItem(r)) item->setText(column, U8(text));
}

void CKeyJoySetup::OnRowChanged(int r) {
    if (r < 0 || r >= static_cast<int>(rows_.size())) return;
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
}

void CKeyJoySetup::OnKeyboardChoice(int position) {
    if (current_ < 0 || current_ >= static_cast<int>(rows_.size())) return;
    MappingEntry& row = rows_[static_cast<std::size_t>(current_)];
    row.keyCode = KeyCodeForChoice(app_, position);
    if (auto name = app_.FindNameByScanCode(row.keyCode)) SetCell(current_, 1, *name);
}

void CKeyJoySetup::OnGamepadChoice(int position) {
    if (current_ < 0 || current_ >= static_cast<int>(rows_.size())) return;
    if (auto name = ApplyGamepadChoice(rows_[static_cast<std::size_t>(current_)], position, names_))
        SetCell(current_, 2, *name);
}

void CKeyJoySetup::OnTimer() {
    if (!liveReady_) {
        // Nothing is shown on the tick that opens the gamepad; the next one reads it.
        liveReady_ = liveJoystick_.Create([this] { return isActiveWindow(); }, 0);
        return;
    }
    if (liveJoystick_.Poll() != 0) return;  // keep the last reading on screen
    const auto values = DataViewValues(liveJoystick_.state);
    for (int i = 0; i < kDataViewRows; ++i) {
        if (QTreeWidgetItem* item = dataList_->topLevelItem(i))
            item->setText(1, U8(values[static_cast<std::size_t>(i)]));
    }
}

void CKeyJoySetup::OnSave() {
    const QString path = ChooseFile(true);
    if (path.isEmpty()) return;
    const SaveResult result = SaveMappingFile(QFile::encodeName(path).toStdString(), rows_);
    if (!result.ok) {
        ShowError(QString::fromUtf8(app_.Tr(Msg::kKeyJoySaveFailed)), path, result.error);
    }
}

void CKeyJoySetup::OnLoad() {
    const QString path = ChooseFile(false);
    if (!path.isEmpty()) {
        std::string reason;
        if (!LoadMappingFile(QFile::encodeName(path).toStdString(), rows_, &reason)) {
            ShowError(QString::fromUtf8(app_.Tr(Msg::kKeyJoyLoadFailed)), path, reason);
        }
    }
    FillMappingList();
    SelectRow(0);
}

QString CKeyJoySetup::ChooseFile(bool save) {
    if (chooser_) return chooser_(save);
    const QDir current = QDir::current();
    const QString start = current.exists("Data") ? current.filePath("Data") : current.path();
    QFileDialog dialog(this, QString::fromUtf8(app_.Tr(save ? Msg::kKeyJoySaveAs : Msg::kKeyJoyOpen)), start,
                       U8(ToQtFileFilter(app_.Tr(Msg::kKeyJoyFileFilter))));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setDefaultSuffix("kjd");
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

void CKeyJoySetup::ShowError(const QString& what, const QString& path, const std::string& reason) {
    lastError_ = what + "\n" + QDir::toNativeSeparators(path) + "\n" + U8(reason);
    if (!messageBoxes_) return;
    QMessageBox box(QMessageBox::Warning, QString::fromUtf8(app_.Tr(Msg::kCaptionWarning)), lastError_,
                    QMessageBox::Ok, this);
    box.exec();
}

}  // namespace zanth
