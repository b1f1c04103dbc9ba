// The main window's side of the practice match: its menu entry and dialog, and the time left shown large.
#include <QLabel>
#include <QMenu>

#include "panel/main_window.h"
#include "panel/match_dialog.h"
#include "panel/plain_text.h"

namespace zanth {
namespace {

// Right of the controller's shoulders, below the status boxes: plain panel, large enough to read from the
// robot's side of the room.
const QRect kClockPlace(616, 152, 176, 78);

}  // namespace

void MainWindow::BuildMatchControls() {
    matchPhase_ = Plain(new QLabel(this));
    matchPhase_->setGeometry(kClockPlace.x(), kClockPlace.y(), kClockPlace.width(), 18);
    matchPhase_->setAlignment(Qt::AlignCenter);
    matchPhase_->setStyleSheet("font-weight: bold;");
    matchTime_ = Plain(new QLabel(this));
    matchTime_->setGeometry(kClockPlace.x(), kClockPlace.y() + 18, kClockPlace.width(),
                            kClockPlace.height() - 18);
    matchTime_->setAlignment(Qt::AlignCenter);
    matchTime_->setStyleSheet("font-size: 44px; font-weight: bold; color: #103060;");
    matchPhase_->hide();
    matchTime_->hide();
    helpMenu_->addSeparator();
    helpMenu_->addAction(Tr(Msg::kMenuMatch), this, &MainWindow::OpenMatch);
}

void MainWindow::OpenMatch() {
    if (!match_) {
        QStringList sounds;
        for (int row = 0; row < model().soundEffectCount; ++row)
            sounds << QString::fromStdString(session_->SoundLabel(row));
        match_ = new MatchDialog(app_, session_->matchPlan(), sounds, this);
        connect(match_, &MatchDialog::startRequested, this, [this](const MatchPlan& plan) {
            session_->StartMatch(plan);
            ShowState();
        });
        connect(match_, &MatchDialog::pauseRequested, this, [this] { session_->PauseMatch(); });
        connect(match_, &MatchDialog::resumeRequested, this, [this] { session_->PauseMatch(); });
        connect(match_, &MatchDialog::abortRequested, this, [this] { session_->AbortMatch(); });
        connect(match_, &MatchDialog::planChanged, this,
                [this](const MatchPlan& plan) { session_->SetMatchPlan(plan); });
    }
    ShowMatch();
    match_->show();
    match_->raise();
    match_->activateWindow();
}

void MainWindow::ShowMatch() {
    const PanelState& s = session_->state();
    const bool shown = !s.matchTime.empty();
    // Nothing to do on the ticks of a program that runs no match.
    if (!shown && matchTime_->isHidden() && !(match_ && match_->isVisible())) return;
    const QString phase = s.matchState == MatchState::kPaused
                              ? Tr(Msg::kMatchPaused).arg(QString::fromStdString(s.matchPhase))
                              : QString::fromStdString(s.matchPhase);
    if (matchPhase_->text() != phase) matchPhase_->setText(phase);
    const QString time = QString::fromStdString(s.matchTime);
    if (matchTime_->text() != time) matchTime_->setText(time);
    matchPhase_->setVisible(shown);
    matchTime_->setVisible(shown);
    if (match_ && match_->isVisible()) {
        MatchView view;
        view.state = s.matchState;
        view.phaseName = s.matchPhase;
        view.timeLeftMs = session_->MatchTimeLeftMs();
        match_->Show(view);
    }
}

}  // namespace zanth
