#include "panel/sound_settings_dialog.h"

#include <array>

#include "base/paths.h"
#include "base/reason_text.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValidator>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "base/app_context.h"
#include "base/text.h"
#include "model/controller_model.h"
#include "panel/fit_text.h"
#include "panel/plain_text.h"
#include "sound/sound_file.h"
#include "sound/sound_output.h"
#include "sound/wav_length.h"

namespace zanth {
namespace {

constexpr int kMaxPlayTimeMs = 60000;
// The list's own column widths: columns grow beyond them to what their texts need.
constexpr int kColumnWidths[6] = {80, 100, 80, 80, 80, 500};

// Refuses typing or pasting that would take the text beyond a byte limit of the settings file's encoding, so
// that what the box shows is exactly what will be stored. Texts put in by the program are not checked (the
// rows are cut already).
class ByteLimitValidator final : public QValidator {
  public:
    ByteLimitValidator(std::size_t limit, TextEncoding encoding, QObject* parent)
        : QValidator(parent), limit_(limit), encoding_(encoding) {}
    State validate(QString& input, int&) const override {
        return EncodedSize(input.toStdString(), encoding_) > limit_ ? Invalid : Acceptable;
    }

  private:
    std::size_t limit_;
    TextEncoding encoding_;
};

// Seconds with one decimal, from ms in single precision; always with a point, whatever the locale.
QString Seconds(int ms) {
    return QString::number(static_cast<double>(static_cast<float>(ms / 1000.0)), 'f', 1);
}

// The playback-time text read as a decimal number: leading spaces skipped, reading stops at the first
// character that cannot continue the number ("1.2.3" reads 1.2) and a lone point reads 0. Answers ms
// truncated toward zero, capped far above the allowed range so that long inputs cannot overflow.
long long PlayTimeMs(const std::string& text) {
    std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) return 0;
    auto digits = [&](std::size_t i) {
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
        return i;
    };
    std::size_t end = digits(begin);
    if (end < text.size() && text[end] == '.') end = digits(end + 1);
    double value = 0.0;
    // Locale-independent; "." alone fails and leaves 0.
    std::from_chars(text.data() + begin, text.data() + end, value);
    const double ms = std::trunc(value * 1000.0);
    return ms > 1e12 ? static_cast<long long>(1e12) : static_cast<long long>(ms);
}

bool PlayTimeCharsOk(const QString& text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.') ||
               c == QLatin1Char(' ');
    });
}

// Template 180 measures in dialog units of an 8 pt font: about 1.5 pixels across and 1.625 down per unit.
int Du(int x) {
    return static_cast<int>(std::lround(x * 1.5));
}
int DuY(int y) {
    return static_cast<int>(std::lround(y * 1.625));
}

}  // namespace

std::vector<SoundSettingRow> RowsFromModel(const ControllerModel& model) {
    const int count = std::clamp(model.soundEffectCount, 0, static_cast<int>(model.soundEffects.size()));
    std::vector<SoundSettingRow> rows;
    rows.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const SoundEffect& e = model.soundEffects[static_cast<std::size_t>(i)];
        SoundSettingRow row;
        if (e.item >= 0 && e.item < kItemCount) row.displayName = model.item(e.item).displayName;
        row.name = CutToEncoded(e.name, kSoundNameLimit, model.textEncoding);
        row.file = CutToEncoded(e.file, kSoundFileLimit, model.textEncoding);
        row.length = e.length;
        row.repeat = e.repeat;
        row.repeatMode = e.repeatMode;
        rows.push_back(std::move(row));
    }
    return rows;
}

void ApplyRows(const std::vector<SoundSettingRow>& rows, ControllerModel& model) {
    const int count = std::clamp(model.soundEffectCount, 0, static_cast<int>(model.soundEffects.size()));
    const std::size_t n = std::min(rows.size(), static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < n; ++i) {
        SoundEffect& e = model.soundEffects[i];
        e.name = CutToEncoded(rows[i].name, kSoundNameLimit, model.textEncoding);
        e.file = CutToEncoded(rows[i].file, kSoundFileLimit, model.textEncoding);
        e.length = rows[i].length;
        e.repeat = rows[i].repeat;
        e.repeatMode = rows[i].repeatMode;
    }
}

SoundSettingsDialog::SoundSettingsDialog(const AppContext& app, SoundOutput& output,
                                         std::vector<SoundSettingRow> rows, TextEncoding encoding,
                                         QWidget* parent)
    : QDialog(parent), app_(app), output_(output), rows_(std::move(rows)), encoding_(encoding) {
    setWindowTitle(T(Msg::kSoundDlgTitle));

    // Created in the template's order, which is also the tab order.
    list_ = new QTreeWidget(this);
    auto* buttonLabel = new QLabel(T(Msg::kSoundDlgButton), this);
    buttonEdit_ = new QLineEdit(this);
    buttonEdit_->setReadOnly(true);
    auto* nameLabel = new QLabel(T(Msg::kSoundDlgName), this);
    nameEdit_ = new QLineEdit(this);
    nameEdit_->setValidator(new ByteLimitValidator(kSoundNameLimit, encoding_, nameEdit_));
    auto* fileLengthLabel = new QLabel(T(Msg::kSoundDlgFileLength), this);
    fileLengthEdit_ = new QLineEdit(this);
    fileLengthEdit_->setReadOnly(true);
    auto* fileLengthUnit = new QLabel(T(Msg::kSoundDlgSeconds), this);
    repeatCheck_ = new QCheckBox(T(Msg::kSoundDlgRepeat), this);
    auto* playTimeLabel = new QLabel(T(Msg::kSoundDlgPlayTime), this);
    playTimeEdit_ = new QLineEdit(this);
    playTimeEdit_->setMaxLength(4);
    auto* playTimeUnit = new QLabel(T(Msg::kSoundDlgPlayTimeUnit), this);
    endTypeCheck_ = new QCheckBox(T(Msg::kSoundDlgEndType), this);
    fileEdit_ = new QLineEdit(this);
    fileEdit_->setValidator(new ByteLimitValidator(kSoundFileLimit, encoding_, fileEdit_));
    browseButton_ = new QPushButton(T(Msg::kSoundDlgBrowse), this);
    playButton_ = new QPushButton(T(Msg::kSoundDlgPlay), this);
    stopButton_ = new QPushButton(T(Msg::kSoundDlgStop), this);
    okButton_ = new QPushButton(T(Msg::kOk), this);
    okButton_->setDefault(true);
    cancelButton_ = new QPushButton(T(Msg::kCancel), this);
    LayOut({buttonLabel, nameLabel, fileLengthLabel, fileLengthUnit, playTimeLabel, playTimeUnit});
    FillList();
    ConnectSignals();
    if (!rows_.empty()) {
        QTreeWidgetItem* first = list_->topLevelItem(0);
        list_->scrollToItem(first);
        list_->setCurrentItem(first);  // selects it and fills the controls
    }
}

// The labels in order: button, name, file length and its unit, playback time and its unit.
void SoundSettingsDialog::LayOut(const std::array<QLabel*, 6>& labels) {
    const auto [buttonLabel, nameLabel, fileLengthLabel, fileLengthUnit, playTimeLabel, playTimeUnit] =
        labels;
    for (QLabel* label : labels) label->setTextFormat(Qt::PlainText);

    list_->setMinimumSize(Du(387), DuY(169));
    buttonEdit_->setFixedWidth(Du(112));
    nameEdit_->setFixedWidth(Du(112));
    fileLengthEdit_->setFixedWidth(Du(50));
    playTimeEdit_->setFixedWidth(Du(40));
    for (QPushButton* b : {browseButton_, playButton_, stopButton_, okButton_, cancelButton_})
        b->setMinimumWidth(Du(50));

    auto* fields = new QGridLayout;
    fields->addWidget(buttonLabel, 0, 0);
    fields->addWidget(buttonEdit_, 0, 1);
    fields->addWidget(nameLabel, 1, 0);
    fields->addWidget(nameEdit_, 1, 1);
    fields->setColumnMinimumWidth(2, Du(8));
    fields->addWidget(fileLengthLabel, 0, 3, 2, 1);
    fields->addWidget(fileLengthEdit_, 0, 4, 2, 1);
    fields->addWidget(fileLengthUnit, 0, 5, 2, 1);
    fields->setColumnStretch(6, 1);
    auto* timing = new QHBoxLayout;
    timing->addWidget(repeatCheck_);
    timing->addSpacing(Du(4));
    timing->addWidget(playTimeLabel);
    timing->addWidget(playTimeEdit_);
    timing->addWidget(playTimeUnit);
    timing->addStretch(1);
    timing->addWidget(endTypeCheck_);
    auto* file = new QHBoxLayout;
    file->addWidget(fileEdit_, 1);
    file->addWidget(browseButton_);
    auto* buttons = new QHBoxLayout;
    buttons->addSpacing(Du(110));
    buttons->addWidget(playButton_);
    buttons->addWidget(stopButton_);
    buttons->addStretch(1);
    buttons->addWidget(okButton_);
    buttons->addWidget(cancelButton_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 1);
    layout->addLayout(fields);
    layout->addLayout(timing);
    layout->addLayout(file);
    layout->addLayout(buttons);
}

void SoundSettingsDialog::FillList() {
    list_->setRootIsDecorated(false);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setSortingEnabled(false);
    list_->header()->setSectionsClickable(false);
    list_->setColumnCount(6);
    list_->setHeaderLabels({T(Msg::kSoundDlgColumnController), T(Msg::kSoundDlgColumnSound),
                            T(Msg::kSoundDlgColumnLength), T(Msg::kSoundDlgColumnRepeat),
                            T(Msg::kSoundDlgColumnEndType), T(Msg::kSoundDlgColumnFile)});
    for (const SoundSettingRow& row : rows_) {
        auto* item = new QTreeWidgetItem(list_);
        item->setText(0, QString::fromStdString(row.displayName));
        item->setText(1, QString::fromStdString(row.name));
        item->setText(2, LengthText(row.length));
        item->setText(3, OnOff(row.repeat == 1));
        item->setText(4, EndTypeText(row.repeatMode));
        item->setText(5, QString::fromStdString(row.file));
        MarkFile(*item, row);
    }
    FitColumns(list_, kColumnWidths);
}

// A file that is not where the row says (nor by its name in the Data folder) is shown as missing, so that
// the sound that will not play is seen here rather than in a log line.
void SoundSettingsDialog::MarkFile(QTreeWidgetItem& item, const SoundSettingRow& row) const {
    const std::string found = ResolveStoredPath(row.file, FolderOf(app_.configPath), app_.dataFolder);
    const bool missing = !row.file.empty() && !IsRegularFile(found);
    item.setIcon(5, missing ? style()->standardIcon(QStyle::SP_MessageBoxWarning) : QIcon());
    item.setForeground(5, missing ? QBrush(Qt::red) : QBrush());
    item.setToolTip(
        5, missing ? PlainTip(T(Msg::kSoundDlgFileMissing).arg(QString::fromStdString(found))) : QString());
}

void SoundSettingsDialog::ConnectSignals() {
    connect(list_, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { SelectRow(item ? list_->indexOfTopLevelItem(item) : -1); });
    connect(nameEdit_, &QLineEdit::textChanged, this, &SoundSettingsDialog::NameChanged);
    connect(fileEdit_, &QLineEdit::textChanged, this, &SoundSettingsDialog::FileChanged);
    connect(repeatCheck_, &QCheckBox::clicked, this, [this](bool checked) {
        if (SoundSettingRow* row = Current()) {
            row->repeat = checked ? 1 : 0;
            SetCell(3, OnOff(checked));
        }
    });
    connect(endTypeCheck_, &QCheckBox::clicked, this, [this](bool checked) {
        if (SoundSettingRow* row = Current()) {
            row->repeatMode = checked ? 1 : 0;
            SetCell(4, EndTypeText(row->repeatMode));
        }
    });
    connect(browseButton_, &QPushButton::clicked, this, &SoundSettingsDialog::Browse);
    connect(playButton_, &QPushButton::clicked, this, [this] {
        // The whole file once, whatever the row's playback time and repeat say. Without an audio device
        // nothing would be heard: that is said once, not at every press.
        const SoundSettingRow* row = Current();
        if (row == nullptr || row->file.empty()) return;
        if (!output_.available() && !toldNoDevice_) {
            toldNoDevice_ = true;
            Message(Msg::kCaptionWarning, Msg::kSoundDlgNoDevice);
        }
        output_.Start(row->file);
    });
    connect(stopButton_, &QPushButton::clicked, this, [this] { output_.Stop(); });
    connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);
    for (QLineEdit* edit : {fileEdit_, nameEdit_, playTimeEdit_}) edit->installEventFilter(this);
}

QString SoundSettingsDialog::T(Msg id) const {
    return QString::fromUtf8(app_.Tr(id));
}

QString SoundSettingsDialog::OnOff(bool on) const {
    return T(on ? Msg::kOn : Msg::kOff);
}

SoundSettingRow* SoundSettingsDialog::Current() {
    if (currentRow_ < 0 || currentRow_ >= static_cast<int>(rows_.size())) return nullptr;
    return &rows_[static_cast<std::size_t>(currentRow_)];
}

void SoundSettingsDialog::SetCell(int column, const QString& text) {
    if (QTreeWidgetItem* item = list_->topLevelItem(currentRow_)) item->setText(column, text);
    FitColumns(list_, kColumnWidths);
}

QString SoundSettingsDialog::LengthText(int ms) const {
    return ms == 0 ? T(Msg::kSoundDlgWholeFile) : Seconds(ms);
}

QString SoundSettingsDialog::EndTypeText(int repeatMode) const {
    return T(repeatMode == 1 ? Msg::kSoundDlgWholeFile : Msg::kSoundDlgEndStop);
}

void SoundSettingsDialog::SelectRow(int row) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return;
    currentRow_ = row;
    FillControls();
}

void SoundSettingsDialog::FillControls() {
    const SoundSettingRow* row = Current();
    if (row == nullptr) return;
    {
        // The row already holds these texts; the change handlers would only write them back.
        const QSignalBlocker blockName(nameEdit_);
        const QSignalBlocker blockFile(fileEdit_);
        buttonEdit_->setText(QString::fromStdString(row->displayName));
        nameEdit_->setText(QString::fromStdString(row->name));
        fileEdit_->setText(QString::fromStdString(row->file));
    }
    checkedFile_ = row->file;
    playTimeEdit_->setText(Seconds(row->length));
    repeatCheck_->setChecked(row->repeat == 1);
    endTypeCheck_->setChecked(row->repeatMode == 1);
    ShowFileLength();
}

void SoundSettingsDialog::NameChanged(const QString& text) {
    SoundSettingRow* row = Current();
    if (row == nullptr) return;
    row->name = CutToEncoded(text.toStdString(), kSoundNameLimit, encoding_);
    SetCell(1, QString::fromStdString(row->name));
}

void SoundSettingsDialog::FileChanged(const QString& text) {
    SoundSettingRow* row = Current();
    if (row == nullptr) return;
    row->file = CutToEncoded(text.toStdString(), kSoundFileLimit, encoding_);
    if (QTreeWidgetItem* item = list_->topLevelItem(currentRow_)) MarkFile(*item, *row);
    SetCell(5, QString::fromStdString(row->file));
    ShowFileLength();
}

void SoundSettingsDialog::ShowFileLength() {
    // Only shown: the measured length changes no setting.
    const SoundSettingRow* row = Current();
    const int ms =
        row ? ReadWavLength(ResolveStoredPath(row->file, FolderOf(app_.configPath), app_.dataFolder)) : -1;
    fileLengthEdit_->setText(ms < 0 ? T(Msg::kSoundDlgUnknown) : Seconds(ms));
}

void SoundSettingsDialog::ValidatePlayTime() {
    SoundSettingRow* row = Current();
    if (row == nullptr) return;
    const QString text = playTimeEdit_->text();
    if (!PlayTimeCharsOk(text)) {
        // Refused: the row keeps its time and the box its text, so the user can correct it.
        Message(Msg::kCaptionError, Msg::kSoundDlgNotANumber);
        return;
    }
    if (text.isEmpty()) {
        playTimeEdit_->setText("0.0");
        row->length = 0;
    } else {
        const long long ms = PlayTimeMs(text.toStdString()) / 100 * 100;
        if (ms > kMaxPlayTimeMs) {
            Message(Msg::kCaptionWarning, Msg::kSoundDlgPlayTimeRange);
            playTimeEdit_->setText(Seconds(kMaxPlayTimeMs));
            row->length = kMaxPlayTimeMs;
            // Later, once the focus change that got us here has finished.
            QMetaObject::invokeMethod(
                playTimeEdit_, [edit = playTimeEdit_] { edit->setFocus(Qt::OtherFocusReason); },
                Qt::QueuedConnection);
        } else {
            row->length = static_cast<int>(ms);
            playTimeEdit_->setText(Seconds(row->length));
        }
    }
    SetCell(2, LengthText(row->length));
}

void SoundSettingsDialog::Browse() {
    const QString path = fileChooser_ ? fileChooser_() : ChooseFile();
    if (path.isEmpty() || Current() == nullptr) return;
    fileEdit_->setText(path);  // stores it in the row and measures it
    CheckFile();
}

// A file the player would refuse (not a regular file, too large or too long, no WAV) is named once, when it
// was chosen or its box is left, not at every keystroke.
void SoundSettingsDialog::CheckFile() {
    const SoundSettingRow* row = Current();
    if (row == nullptr || row->file.empty() || row->file == checkedFile_) return;
    checkedFile_ = row->file;
    const std::string reason =
        CheckSoundFile(ResolveStoredPath(row->file, FolderOf(app_.configPath), app_.dataFolder));
    if (reason.empty()) return;
    const QString limits = T(Msg::kSoundFileRefused)
                               .arg(static_cast<qulonglong>(kMaxSoundFileBytes / (1024 * 1024)))
                               .arg(kMaxSoundSeconds / 60);
    Message(Msg::kCaptionError, limits + "\n" + QString::fromStdString(row->file) + "\n" +
                                    QString::fromStdString(ReasonText(reason, app_.language)));
}

QString SoundSettingsDialog::ChooseFile() {
    // Qt's "*.*" would hide files without a dot, so "all files" is "*" here. The chooser starts in the Data
    // folder beside portable settings, else in the user's data folder, made on first use.
    MakeFolders(app_.dataFolder);
    QFileDialog dialog(this, QString(), QString::fromStdString(app_.dataFolder), T(Msg::kSoundDlgFileFilter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix("wav");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

void SoundSettingsDialog::Message(Msg captionId, Msg textId) {
    Message(captionId, T(textId));
}

void SoundSettingsDialog::Message(Msg captionId, const QString& text) {
    const QString caption = T(captionId);
    if (messageSink_) {
        messageSink_(caption, text);
        return;
    }
    // The icon of the program's other boxes: an error is an error wherever it is found.
    const QMessageBox::Icon icon =
        captionId == Msg::kCaptionError ? QMessageBox::Critical : QMessageBox::Warning;
    ShowPlainBox(this, icon, caption, text);
}

bool SoundSettingsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Enter in the name, file and time boxes moves on (leaving the time box checks it) instead of
            // pressing OK.
            focusNextChild();
            return true;
        }
    } else if (event->type() == QEvent::FocusOut && watched == playTimeEdit_) {
        // Not when a context menu opens over the box, nor once the dialog is closing: the rows are final
        // then.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason && isVisible())
            ValidatePlayTime();
    } else if (event->type() == QEvent::FocusOut && watched == fileEdit_) {
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason && isVisible()) CheckFile();
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace zanth
