#include "panel/match_dialog.h"

#include <QComboBox>
#include <QFont>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>
#include <utility>

#include "panel/plain_text.h"

namespace zanth {
namespace {

enum Column { kName, kLength, kSound, kDrives, kColumns };

constexpr int kNewPhaseSeconds = 30;

std::optional<int> Digits(std::string_view text) {
    int value = 0;
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

QString LengthText(int seconds) {
    return QString::fromStdString(MatchTimeText(std::int64_t{seconds} * 1000));
}

}  // namespace

std::optional<int> ParseMatchLength(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return Digits(text);
    const std::optional<int> minutes = Digits(text.substr(0, colon));
    const std::string_view secondsText = text.substr(colon + 1);
    const std::optional<int> seconds = secondsText.size() == 2 ? Digits(secondsText) : std::nullopt;
    if (!minutes || !seconds || *seconds > 59) return std::nullopt;
    return *minutes * 60 + *seconds;
}

MatchDialog::MatchDialog(const AppContext& app, const MatchPlan& plan, const QStringList& soundLabels,
                         QWidget* parent)
    : QDialog(parent), app_(app), soundLabels_(soundLabels), plan_(SanePlan(plan)) {
    setWindowTitle(Tr(Msg::kMatchTitle));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    name_ = new QLineEdit(this);
    form->addRow(Plain(new QLabel(Tr(Msg::kMatchName), this)), name_);
    layout->addLayout(form);

    table_ = new QTableWidget(0, kColumns, this);
    table_->setHorizontalHeaderLabels({Tr(Msg::kMatchColumnPhase), Tr(Msg::kMatchColumnLength),
                                       Tr(Msg::kMatchColumnSound), Tr(Msg::kMatchColumnDrives)});
    table_->horizontalHeader()->setSectionResizeMode(kName, QHeaderView::Stretch);
    table_->verticalHeader()->setVisible(false);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(table_);
    layout->addWidget(BuildButtons());

    time_ = Plain(new QLabel(this));
    QFont big = time_->font();
    big.setPointSizeF(big.pointSizeF() * 4);
    big.setBold(true);
    time_->setFont(big);
    time_->setAlignment(Qt::AlignCenter);
    phase_ = Plain(new QLabel(this));
    phase_->setAlignment(Qt::AlignCenter);
    layout->addWidget(time_);
    layout->addWidget(phase_);

    connect(name_, &QLineEdit::editingFinished, this, [this] {
        MatchPlan edited = plan_;
        edited.name = name_->text().toStdString();
        Change(std::move(edited));
    });
    connect(table_, &QTableWidget::cellChanged, this, &MatchDialog::TakeCell);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &MatchDialog::UpdateEnabled);
    FillTable();
    table_->resizeColumnsToContents();
    // Every column whole, and room for a name longer than the default ones: the table would scroll sideways
    // and hide whether a phase drives.
    int width = 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width() +
                fontMetrics().horizontalAdvance(QStringLiteral("Countdown to the endgame"));
    for (int c = kName + 1; c < kColumns; ++c)
        width += std::max(table_->horizontalHeader()->sectionSizeHint(c), table_->columnWidth(c));
    table_->setMinimumWidth(width);
    Show(MatchView{MatchState::kIdle, {}, MatchClock(plan_).TimeLeftMs(MatchTime{0})});
}

QWidget* MatchDialog::BuildButtons() {
    auto* box = new QWidget(this);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    add_ = new QPushButton(Tr(Msg::kMatchAdd), box);
    remove_ = new QPushButton(Tr(Msg::kMatchRemove), box);
    up_ = new QPushButton(Tr(Msg::kMatchUp), box);
    down_ = new QPushButton(Tr(Msg::kMatchDown), box);
    start_ = new QPushButton(Tr(Msg::kMatchStart), box);
    // Enter starts the match: the dialog is opened to run one. The other buttons take no Enter.
    start_->setDefault(true);
    pause_ = new QPushButton(Tr(Msg::kMatchPause), box);
    abort_ = new QPushButton(Tr(Msg::kMatchAbort), box);
    for (QPushButton* b : {add_, remove_, up_, down_}) row->addWidget(b);
    row->addStretch();
    for (QPushButton* b : {start_, pause_, abort_}) row->addWidget(b);

    connect(add_, &QPushButton::clicked, this, [this] {
        MatchPlan edited = plan_;
        const QString name = Tr(Msg::kMatchNewPhase).arg(static_cast<int>(edited.phases.size()) + 1);
        edited.phases.push_back({name.toStdString(), kNewPhaseSeconds, -1, true});
        Change(std::move(edited));
        table_->selectRow(static_cast<int>(plan_.phases.size()) - 1);
    });
    connect(remove_, &QPushButton::clicked, this, [this] {
        const int row = table_->currentRow();
        if (row < 0 || plan_.phases.size() < 2) return;
        MatchPlan edited = plan_;
        edited.phases.erase(edited.phases.begin() + row);
        Change(std::move(edited));
    });
    connect(up_, &QPushButton::clicked, this, [this] { Move(-1); });
    connect(down_, &QPushButton::clicked, this, [this] { Move(1); });
    connect(start_, &QPushButton::clicked, this, [this] { emit startRequested(plan_); });
    connect(pause_, &QPushButton::clicked, this, [this] {
        if (view_.state == MatchState::kPaused)
            emit resumeRequested();
        else
            emit pauseRequested();
    });
    connect(abort_, &QPushButton::clicked, this, &MatchDialog::abortRequested);
    return box;
}

void MatchDialog::SetPlan(const MatchPlan& plan) {
    plan_ = SanePlan(plan);
    FillTable();
}

void MatchDialog::FillTable() {
    const QSignalBlocker blockName(name_);
    name_->setText(QString::fromStdString(plan_.name));
    const int current = table_->currentRow();
    filling_ = true;
    table_->setRowCount(static_cast<int>(plan_.phases.size()));
    for (int row = 0; row < table_->rowCount(); ++row) FillRow(row);
    filling_ = false;
    if (current >= 0) table_->selectRow(std::min(current, table_->rowCount() - 1));
    UpdateEnabled();
}

// Items and boxes are reused: a row is filled again from within the signal of its own item.
void MatchDialog::FillRow(int row) {
    const MatchPhase& phase = plan_.phases[static_cast<std::size_t>(row)];
    for (const int column : {kName, kLength, kDrives})
        if (!table_->item(row, column)) table_->setItem(row, column, new QTableWidgetItem);
    table_->item(row, kName)->setText(QString::fromStdString(phase.name));
    table_->item(row, kLength)->setText(LengthText(phase.seconds));
    QTableWidgetItem* drives = table_->item(row, kDrives);
    drives->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    drives->setCheckState(phase.drives ? Qt::Checked : Qt::Unchecked);
    auto* sound = qobject_cast<QComboBox*>(table_->cellWidget(row, kSound));
    if (!sound) {
        sound = new QComboBox(table_);
        sound->addItem(Tr(Msg::kNone));
        sound->addItems(soundLabels_);
        connect(sound, &QComboBox::activated, this, [this, row](int index) { TakeSound(row, index); });
        table_->setCellWidget(row, kSound, sound);
    }
    // A row the list does not have (fewer effects than the plan names) shows as none and is kept as it is.
    sound->setCurrentIndex(phase.sound + 1 < sound->count() ? phase.sound + 1 : 0);
}

void MatchDialog::TakeCell(int row, int column) {
    if (filling_ || row < 0 || row >= static_cast<int>(plan_.phases.size())) return;
    MatchPlan edited = plan_;
    MatchPhase& phase = edited.phases[static_cast<std::size_t>(row)];
    const QTableWidgetItem* item = table_->item(row, column);
    if (!item) return;
    if (column == kName) phase.name = item->text().toStdString();
    // A length that does not read as one keeps the one before.
    if (column == kLength)
        phase.seconds = ParseMatchLength(item->text().toStdString()).value_or(phase.seconds);
    if (column == kDrives) phase.drives = item->checkState() == Qt::Checked;
    Change(std::move(edited));
}

void MatchDialog::TakeSound(int row, int index) {
    if (row < 0 || row >= static_cast<int>(plan_.phases.size())) return;
    MatchPlan edited = plan_;
    edited.phases[static_cast<std::size_t>(row)].sound = index - 1;
    Change(std::move(edited));
}

void MatchDialog::Move(int by) {
    const int row = table_->currentRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= static_cast<int>(plan_.phases.size())) return;
    MatchPlan edited = plan_;
    std::swap(edited.phases[static_cast<std::size_t>(row)], edited.phases[static_cast<std::size_t>(to)]);
    Change(std::move(edited));
    table_->selectRow(to);
}

void MatchDialog::Change(MatchPlan plan) {
    plan = SanePlan(std::move(plan));
    const bool changed = plan != plan_;
    plan_ = std::move(plan);
    // Shown again in any case: a cut name or a length that did not read shows what is kept.
    FillTable();
    if (changed) emit planChanged(plan_);
}

void MatchDialog::Show(const MatchView& view) {
    view_ = view;
    time_->setText(QString::fromStdString(MatchTimeText(view.timeLeftMs)));
    const QString phase = QString::fromStdString(view.phaseName);
    switch (view.state) {
        case MatchState::kIdle:
            phase_->setText(Tr(Msg::kMatchNotStarted));
            break;
        case MatchState::kRunning:
            phase_->setText(phase);
            break;
        case MatchState::kPaused:
            phase_->setText(Tr(Msg::kMatchPaused).arg(phase));
            break;
        case MatchState::kEnded:
            phase_->setText(Tr(Msg::kMatchEnded));
            break;
        case MatchState::kAborted:
            phase_->setText(Tr(Msg::kMatchAborted));
            break;
    }
    pause_->setText(Tr(view.state == MatchState::kPaused ? Msg::kMatchResume : Msg::kMatchPause));
    UpdateEnabled();
}

void MatchDialog::UpdateEnabled() {
    const bool live = view_.state == MatchState::kRunning || view_.state == MatchState::kPaused;
    const int row = table_->currentRow();
    const int rows = table_->rowCount();
    name_->setEnabled(!live);
    table_->setEnabled(!live);
    add_->setEnabled(!live && rows < static_cast<int>(MatchPlan::kMaxPhases));
    remove_->setEnabled(!live && row >= 0 && rows > 1);
    up_->setEnabled(!live && row > 0);
    down_->setEnabled(!live && row >= 0 && row + 1 < rows);
    start_->setEnabled(!live);
    pause_->setEnabled(live);
    abort_->setEnabled(live);
}

}  // namespace zanth
