#include "panel/link_monitor.h"

#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include <utility>

#include "panel/battery_plot.h"
#include "panel/plain_text.h"

namespace zanth {
namespace {

// What a window manager's frame and title bar may take around the window.
constexpr int kFrameRoom = 24;

// The rows are pulled in this often; the plot every kPlotEvery-th time.
constexpr int kRefreshMs = 250;
constexpr int kPlotEvery = 4;

// Paints the cells from their text laid out once: the rows move down on every refresh, and laying out every
// visible cell's text anew each time would cost more than everything else the monitor does.
class CellPainter : public QStyledItemDelegate {
  public:
    CellPainter(const MonitorRows& rows, QObject* parent) : QStyledItemDelegate(parent), rows_(rows) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        if (selected)
            p->fillRect(option.rect, option.palette.highlight());
        else if (option.features & QStyleOptionViewItem::Alternate)
            p->fillRect(option.rect, option.palette.alternateBase());
        const QStaticText* text = rows_.CellText(index);
        if (text == nullptr) return;
        p->save();
        p->setClipRect(option.rect.adjusted(2, 0, -2, 0));
        p->setFont(option.font);
        p->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        const int top = option.rect.top() + (option.rect.height() - option.fontMetrics.height()) / 2;
        p->drawStaticText(option.rect.left() + 3, top, *text);
        p->restore();
    }

  private:
    const MonitorRows& rows_;
};

}  // namespace

// ---- MonitorRows

MonitorRows::MonitorRows(const MonitorModel& model, const MonitorText& text, QObject* parent)
    : QAbstractTableModel(parent), model_(model), text_(text), cache_(MonitorModel::kRowLimit) {
    for (int c = 0; c < MonitorText::kColumns; ++c) headers_ << QString::fromStdString(text.Heading(c));
    syncedAdded_ = model_.rowsAdded();
    shown_ = static_cast<int>(model_.rowCount());
}

int MonitorRows::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : shown_;
}

int MonitorRows::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : MonitorText::kColumns;
}

const MonitorRows::Cached* MonitorRows::RowAt(int row) const {
    // Rows that came after the last Sync sit above the ones the view knows.
    const std::uint64_t newer = model_.rowsAdded() - syncedAdded_;
    const std::uint64_t at = newer + static_cast<std::uint64_t>(row);
    if (row < 0 || at >= model_.rowCount()) return nullptr;
    const std::uint64_t number = model_.rowsAdded() - 1 - at;
    Cached& c = cache_[number % cache_.size()];
    if (c.number != number) {
        const MonitorText::Fields f = text_.Of(model_.row(static_cast<std::size_t>(at)));
        for (std::size_t i = 0; i < f.size(); ++i) {
            c.fields[i] = QString::fromStdString(f[i]);
            c.laidOut[i].setText(c.fields[i]);
            c.laidOut[i].setTextFormat(Qt::PlainText);
            c.laidOut[i].setPerformanceHint(QStaticText::AggressiveCaching);
        }
        c.number = number;
    }
    return &c;
}

QVariant MonitorRows::data(const QModelIndex& index, int role) const {
    // The tool tip holds a cell's whole text: a remote client's note is longer than its column.
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid()) return {};
    const Cached* c = RowAt(index.row());
    if (c == nullptr) return {};
    const QString& field = c->fields[static_cast<std::size_t>(index.column())];
    return role == Qt::ToolTipRole ? PlainTip(field) : field;
}

const QStaticText* MonitorRows::CellText(const QModelIndex& index) const {
    const Cached* c = index.isValid() ? RowAt(index.row()) : nullptr;
    return c == nullptr ? nullptr : &c->laidOut[static_cast<std::size_t>(index.column())];
}

QVariant MonitorRows::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= headers_.size())
        return {};
    return headers_[section];
}

int MonitorRows::Sync() {
    const std::uint64_t added = model_.rowsAdded();
    const int fresh =
        static_cast<int>(std::min<std::uint64_t>(added - syncedAdded_, MonitorModel::kRowLimit));
    if (fresh > 0) {
        beginInsertRows({}, 0, fresh - 1);
        syncedAdded_ = added;
        shown_ += fresh;
        endInsertRows();
    }
    // The oldest rows went out of the ring, or Clear dropped them all.
    const int kept = static_cast<int>(model_.rowCount());
    if (shown_ > kept) {
        beginRemoveRows({}, kept, shown_ - 1);
        shown_ = kept;
        endRemoveRows();
    }
    return std::max(fresh, 0);
}

// ---- LinkMonitorWindow

LinkMonitorWindow::LinkMonitorWindow(const AppContext& app, LinkTraffic& traffic, QWidget* parent)
    : QWidget(parent, Qt::Window), app_(app), traffic_(traffic) {
    setWindowTitle(Tr(Msg::kMonitorTitle));
    // The first size fits the screen, also a small one at a large scale; the layout may still ask for more.
    QSize size(940, 640);
    if (const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
        const QSize room = screen->availableGeometry().size() - QSize(kFrameRoom, 2 * kFrameRoom);
        size = size.boundedTo(room.expandedTo(QSize(1, 1)));
    }
    resize(size);
    auto* layout = new QVBoxLayout(this);
    auto* buttons = new QHBoxLayout;
    pause_ = new QPushButton(Tr(Msg::kMonitorPause), this);
    pause_->setCheckable(true);
    clear_ = new QPushButton(Tr(Msg::kMonitorClear), this);
    save_ = new QPushButton(Tr(Msg::kMonitorSave), this);
    state_ = Plain(new QLabel(this));
    state_->setStyleSheet("color: #a00000; font-weight: bold;");
    for (QWidget* w :
         {static_cast<QWidget*>(pause_), static_cast<QWidget*>(clear_), static_cast<QWidget*>(save_)})
        buttons->addWidget(w);
    buttons->addStretch(1);
    buttons->addWidget(state_);
    layout->addLayout(buttons);
    BuildTable();
    layout->addWidget(table_, 1);
    counters_ = Plain(new QLabel(this));
    device_ = Plain(new QLabel(this));
    layout->addWidget(counters_);
    layout->addWidget(device_);
    layout->addWidget(Plain(new QLabel(Tr(Msg::kMonitorPlot), this)));
    plot_ = new BatteryPlot(this);
    plot_->SetMinutesLabel(Tr(Msg::kMonitorMinutesAgo));
    plot_->setFixedHeight(170);
    layout->addWidget(plot_);

    connect(pause_, &QPushButton::toggled, this, [this](bool on) {
        traffic_.monitor().SetPaused(on);
        pause_->setText(Tr(on ? Msg::kMonitorResume : Msg::kMonitorPause));
    });
    // Keys belong to driving, which goes on while this window is active: nothing here takes the focus, so
    // that a bound key neither presses a button nor moves through the rows.
    for (QWidget* w : {static_cast<QWidget*>(pause_), static_cast<QWidget*>(clear_),
                       static_cast<QWidget*>(save_), static_cast<QWidget*>(table_)})
        w->setFocusPolicy(Qt::NoFocus);
    connect(clear_, &QPushButton::clicked, this, [this] {
        traffic_.monitor().Clear();
        rows_->Sync();
    });
    connect(save_, &QPushButton::clicked, this, &LinkMonitorWindow::OnSave);
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &LinkMonitorWindow::Refresh);
}

void LinkMonitorWindow::BuildTable() {
    rows_ = new MonitorRows(traffic_.monitor(), traffic_.text(), this);
    table_ = new QTableView(this);
    table_->setModel(rows_);
    table_->setItemDelegate(new CellPainter(*rows_, table_));
    table_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setWordWrap(false);
    table_->setAlternatingRowColors(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Fixed row heights: adding rows never measures them.
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    // The scroll bar counts rows, so that holding a place is adding the rows that came above it.
    table_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    const int widths[MonitorText::kColumns] = {100, 45, 195, 165, 235, 80, 80};
    for (int c = 0; c < MonitorText::kColumns; ++c) table_->setColumnWidth(c, widths[c]);
    // The kind of a remote client's row is the longest word of its column.
    const int kind = table_->fontMetrics().horizontalAdvance(Tr(Msg::kMonitorRemote)) + 12;
    if (kind > widths[1]) table_->setColumnWidth(1, kind);
    table_->horizontalHeader()->setStretchLastSection(true);
}

void LinkMonitorWindow::showEvent(QShowEvent* event) {
    Refresh();
    refresh_.start();
    QWidget::showEvent(event);
}

void LinkMonitorWindow::hideEvent(QHideEvent* event) {
    // Nothing is formatted or drawn while nobody looks.
    refresh_.stop();
    QWidget::hideEvent(event);
}

void LinkMonitorWindow::Refresh() {
    // At the newest row the view follows the new ones; scrolled away from it, it holds its place.
    QScrollBar* bar = table_->verticalScrollBar();
    const int at = bar->value();
    const int added = rows_->Sync();
    if (at > 0 && added > 0) bar->setValue(at + added);
    RefreshLabels();
    const MonitorModel& m = traffic_.monitor();
    // The plot moves on by a pixel every second or so: once a second is enough, also while replies come eight
    // a second (rebuilding ten minutes of them on every refresh cost time and churned the heap); at once only
    // while it shows nothing yet, so that the first reply appears when it comes.
    const bool fresh = plottedVersion_ != m.historyVersion();
    if (refreshes_++ % kPlotEvery == 0 || (fresh && plotEmpty_)) {
        plottedVersion_ = m.historyVersion();
        MonitorModel::Plot plot = m.PlotAt(LinkClockUs());
        plotEmpty_ = plot.runs.empty() && plot.gaps.empty();
        plot_->SetPlot(std::move(plot));
    }
}

void LinkMonitorWindow::RefreshLabels() {
    const MonitorModel& m = traffic_.monitor();
    const QString counters = QString::fromStdString(traffic_.text().Counters(m, LinkClockUs()));
    const QString device = QString::fromStdString(traffic_.text().Device(m, traffic_.padInUse()));
    QString state = traffic_.playing() ? Tr(Msg::kPlaying) : traffic_.recording() ? Tr(Msg::kRecording) : "";
    if (const std::string note = traffic_.PlaybackNote(); !note.empty())
        state += "  " + QString::fromStdString(note);
    if (!traffic_.remoteClients().isEmpty())
        state += (state.isEmpty() ? "" : "  ") + traffic_.remoteClients();
    for (auto [label, text] : {std::pair{counters_, counters}, {device_, device}, {state_, state}})
        if (label->text() != text) label->setText(text);
}

void LinkMonitorWindow::OnSave() {
    const QString path = QFileDialog::getSaveFileName(
        this, Tr(Msg::kMonitorSave), QDir::current().filePath("link-log.txt"), Tr(Msg::kMonitorTextFilter));
    if (!path.isEmpty()) SaveTo(path);
}

bool LinkMonitorWindow::SaveTo(const QString& path) {
    const SaveResult r = traffic_.text().Save(traffic_.monitor(), path.toStdString());
    if (!r.ok && messageBoxes_)
        ShowPlainBox(this, QMessageBox::Critical, Tr(Msg::kCaptionError),
                     Tr(Msg::kMonitorSaveFailed) + "\n" + path + "\n" + QString::fromStdString(r.error));
    return r.ok;
}

}  // namespace zanth
