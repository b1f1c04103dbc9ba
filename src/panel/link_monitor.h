#pragma once
#include <QAbstractTableModel>
#include <QStaticText>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <vector>

#include "base/app_context.h"
#include "control/link_traffic.h"

class QLabel;
class QPushButton;
class QTableView;

namespace zanth {

class BatteryPlot;

// The monitor's rows for a table view, newest first. The model underneath takes rows at the wire's pace;
// the view hears of them only when Sync is called, so that it relays out a few times a second at most.
class MonitorRows : public QAbstractTableModel {
    Q_OBJECT
  public:
    MonitorRows(const MonitorModel& model, const MonitorText& text, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Tells the view about the rows added and dropped since the last call; the number added on top.
    int Sync();
    // The text of a cell laid out once, for painting; null for a row that is gone.
    const QStaticText* CellText(const QModelIndex& index) const;

  private:
    const MonitorModel& model_;
    const MonitorText& text_;
    QStringList headers_;
    std::uint64_t syncedAdded_ = 0;  // model_.rowsAdded() at the last Sync
    int shown_ = 0;
    // Formatted rows by their number, so that scrolling does not format them again.
    struct Cached {
        std::uint64_t number = ~0ull;
        std::array<QString, MonitorText::kColumns> fields;
        std::array<QStaticText, MonitorText::kColumns> laidOut;
    };
    const Cached* RowAt(int row) const;
    mutable std::vector<Cached> cache_;
};

// What goes over the wire, as it happens: the rows, the counters since Connect, the device, and the battery
// over the last ten minutes. A window of its own beside the main window, which keeps it (and so its place)
// when it is closed.
class LinkMonitorWindow : public QWidget {
    Q_OBJECT
  public:
    LinkMonitorWindow(const AppContext& app, LinkTraffic& traffic, QWidget* parent = nullptr);

    QTableView* table() const { return table_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* saveButton() const { return save_; }
    BatteryPlot* plot() const { return plot_; }
    // Shows what came since the last refresh; its timer calls it while the window is shown.
    void Refresh();
    // Writes the rows as text; false with the reason shown (unless boxes are off).
    bool SaveTo(const QString& path);
    void setMessageBoxesEnabled(bool on) { messageBoxes_ = on; }

  protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    QString Tr(Msg id) const { return QString::fromUtf8(app_.Tr(id)); }
    void BuildTable();
    void RefreshLabels();
    void OnSave();

    const AppContext& app_;
    LinkTraffic& traffic_;
    MonitorRows* rows_ = nullptr;
    QTableView* table_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* clear_ = nullptr;
    QPushButton* save_ = nullptr;
    QLabel* state_ = nullptr;
    QLabel* counters_ = nullptr;
    QLabel* device_ = nullptr;
    BatteryPlot* plot_ = nullptr;
    QTimer refresh_;
    int refreshes_ = 0;
    std::uint64_t plottedVersion_ = ~0ull;
    bool plotEmpty_ = true;  // the plot shown has no reply and no gap
    bool messageBoxes_ = true;
};

}  // namespace zanth
