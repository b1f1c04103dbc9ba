#include "panel/match_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <vector>

namespace zanth {
namespace {

AppContext English() {
    StartupInfo info;
    info.languageName = "English";
    return AppContext(info);
}

TEST(MatchDialogTest, LengthsReadAsMinutesAndSeconds) {
    const struct {
        const char* text;
        std::optional<int> seconds;
    } cases[] = {{"1:30", 90},
                 {" 0:05 ", 5},
                 {"45", 45},
                 {"10:00", 600},
                 {"1:5", std::nullopt},
                 {"1:60", std::nullopt},
                 {"", std::nullopt},
                 {"-1", std::nullopt},
                 {"1:3x", std::nullopt},
                 {"99999999", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(ParseMatchLength(c.text), c.seconds) << c.text;
}

// Every edit in the table reaches the plan, and the plan comes back into the table as it is kept.
TEST(MatchDialogTest, ThePlanRoundTripsThroughTheTable) {
    const AppContext app = English();
    const MatchPlan start{"Scrim", {{"Countdown", 5, -1, false}, {"Drive", 120, 2, true}}};
    MatchDialog dialog(app, start, {"Horn", "Bell", "Buzzer"});
    std::vector<MatchPlan> announced;
    QObject::connect(&dialog, &MatchDialog::planChanged, [&](const MatchPlan& p) { announced.push_back(p); });
    QTableWidget* table = dialog.table();
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(1, 1)->text(), "2:00");
    EXPECT_EQ(qobject_cast<QComboBox*>(table->cellWidget(1, 2))->currentText(), "Buzzer");
    EXPECT_EQ(table->item(0, 3)->checkState(), Qt::Unchecked);

    table->item(1, 1)->setText("1:30");
    table->item(0, 1)->setText("soon");  // not a length: the one before is kept and shown
    table->item(1, 0)->setText("Drive\nhard");
    table->item(0, 3)->setCheckState(Qt::Checked);
    table->selectRow(1);
    dialog.upButton()->click();
    const MatchPlan expected{"Scrim", {{"Drive hard", 90, 2, true}, {"Countdown", 5, -1, true}}};
    EXPECT_EQ(dialog.plan(), expected);
    ASSERT_FALSE(announced.empty());
    EXPECT_EQ(announced.back(), expected);
    EXPECT_EQ(table->item(1, 1)->text(), "0:05");
    EXPECT_EQ(table->item(0, 0)->text(), "Drive hard");
    EXPECT_EQ(qobject_cast<QComboBox*>(table->cellWidget(0, 2))->currentText(), "Buzzer");

    std::vector<MatchPlan> started;
    QObject::connect(&dialog, &MatchDialog::startRequested,
                     [&](const MatchPlan& p) { started.push_back(p); });
    dialog.startButton()->click();
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], expected);
}

TEST(MatchDialogTest, APlanCannotChangeWhileItsMatchRuns) {
    const AppContext app = English();
    MatchDialog dialog(app, MatchPlan::Default(), {});
    int pauses = 0;
    int resumes = 0;
    QObject::connect(&dialog, &MatchDialog::pauseRequested, [&] { ++pauses; });
    QObject::connect(&dialog, &MatchDialog::resumeRequested, [&] { ++resumes; });
    EXPECT_FALSE(dialog.pauseButton()->isEnabled());
    dialog.Show({MatchState::kRunning, "Drive", 61'001});
    EXPECT_EQ(dialog.timeLabel()->text(), "1:02");
    for (QWidget* w :
         std::vector<QWidget*>{dialog.table(), dialog.nameEdit(), dialog.addButton(), dialog.startButton()})
        EXPECT_FALSE(w->isEnabled());
    dialog.pauseButton()->click();
    dialog.Show({MatchState::kPaused, "Drive", 61'001});
    dialog.pauseButton()->click();
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(resumes, 1);
    dialog.Show({MatchState::kEnded, "", 0});
    EXPECT_TRUE(dialog.table()->isEnabled());
    EXPECT_TRUE(dialog.startButton()->isEnabled());
}

}  // namespace
}  // namespace zanth
