#pragma once
#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/app_context.h"
#include "control/match_clock.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace zanth {

// What the dialog shows of the running match; the caller fills it from its clock on every tick.
struct MatchView {
    MatchState state = MatchState::kIdle;
    std::string phaseName;        // the phase the match is in (from the plan: shown as plain text)
    std::int64_t timeLeftMs = 0;  // MatchClock::TimeLeftMs
};

// A phase's length as typed: "m:ss" (seconds 0..59), or whole seconds alone; nothing for anything else.
std::optional<int> ParseMatchLength(std::string_view text);

// The practice match: its name and phases (name, length, the sound effect that marks its start, whether the
// robot may drive in it) and Start / Pause / Resume / Abort with the time left, shown large. It only shows
// and forwards: the plan cannot be edited while a match runs or is paused, and every edit that changed it
// is announced by planChanged (the caller keeps it in the settings). Modeless or modal alike.
class MatchDialog : public QDialog {
    Q_OBJECT
  public:
    // `soundLabels`: the program's sound effects in their order (row 0..15), shown after "none".
    MatchDialog(const AppContext& app, const MatchPlan& plan, const QStringList& soundLabels,
                QWidget* parent = nullptr);

    const MatchPlan& plan() const { return plan_; }
    void SetPlan(const MatchPlan& plan);
    // The clock as it stands; the caller calls it on every tick while the dialog is shown.
    void Show(const MatchView& view);

    QLineEdit* nameEdit() const { return name_; }
    QTableWidget* table() const { return table_; }
    QPushButton* addButton() const { return add_; }
    QPushButton* removeButton() const { return remove_; }
    QPushButton* upButton() const { return up_; }
    QPushButton* downButton() const { return down_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* pauseButton() const { return pause_; }
    QPushButton* abortButton() const { return abort_; }
    QLabel* timeLabel() const { return time_; }
    QLabel* phaseLabel() const { return phase_; }

  signals:
    void startRequested(zanth::MatchPlan plan);
    void pauseRequested();
    void resumeRequested();
    void abortRequested();
    void planChanged(zanth::MatchPlan plan);

  private:
    QString Tr(Msg id) const { return QString::fromUtf8(app_.Tr(id)); }
    QWidget* BuildButtons();
    void FillTable();
    void FillRow(int row);
    void TakeCell(int row, int column);
    void TakeSound(int row, int index);
    void Move(int by);
    void Change(MatchPlan plan);  // takes an edited plan: made sane, shown, announced when it differs
    void UpdateEnabled();

    const AppContext& app_;
    QStringList soundLabels_;
    MatchPlan plan_;
    MatchView view_;
    bool filling_ = false;
    QLineEdit* name_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPushButton* add_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* down_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* pause_ = nullptr;
    QPushButton* abort_ = nullptr;
    QLabel* time_ = nullptr;
    QLabel* phase_ = nullptr;
};

}  // namespace zanth
