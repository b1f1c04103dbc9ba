// The main window's sound list: its switches, its texts and tool tips, and the way to its hidden columns.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTreeWidget>
#include <QWheelEvent>
#include <fstream>
#include <memory>

#include "control/devices_factory.h"
#include "panel/main_window.h"

namespace zanth {
namespace {

class SoundListTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    void WriteConfig(const std::string& text) {
        std::ofstream(dir_.filePath("Zanth-Emulator.ini").toStdString()) << text;
    }
    std::unique_ptr<MainWindow> Open(Language language = Language::kEnglish) {
        const char* system = language == Language::kJapanese ? "Japanese" : "English";
        StartupInfo info{system, false, dir_.path().toStdString(), {}, {}};
        app_ = std::make_unique<AppContext>(info);
        auto w = std::make_unique<MainWindow>(*app_, MakeSession(*app_, LoadSettings(app_->configPath)));
        w->setMessageBoxesEnabled(false);
        return w;
    }

    QTemporaryDir dir_;
    std::unique_ptr<AppContext> app_;
};

TEST_F(SoundListTest, SoundListToggleAndLabels) {
    WriteConfig("[SOUND]\n2_FILE=C:\\Sounds\\horn.wav\n3_FILE=/x/y/beep.wav\n3_NAME=Beep\n4_ON=2\n");
    auto w = Open();
    auto* list = w->soundList();
    EXPECT_EQ(list->topLevelItem(1)->text(2), "horn.wav");
    EXPECT_EQ(list->topLevelItem(2)->text(2), "Beep");
    EXPECT_EQ(list->topLevelItem(0)->text(2), "");
    EXPECT_EQ(list->topLevelItem(3)->text(1), "ON");
    emit list->itemDoubleClicked(list->topLevelItem(3), 0);
    EXPECT_EQ(list->topLevelItem(3)->text(1), "OFF");
    EXPECT_TRUE(list->topLevelItem(3)->toolTip(0).contains("ON/OFF: OFF"))  // the row's tip follows
        << list->topLevelItem(3)->toolTip(0).toStdString();
    EXPECT_EQ(w->model().soundEffects[3].enabled, 0);
    emit list->itemDoubleClicked(list->topLevelItem(3), 0);
    EXPECT_EQ(w->model().soundEffects[3].enabled, 1);

    // Return and Space switch the current row as a double click does.
    list->setCurrentItem(list->topLevelItem(3));
    for (int key : {Qt::Key_Return, Qt::Key_Space}) {
        const int before = w->model().soundEffects[3].enabled;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(list, &press);
        EXPECT_NE(w->model().soundEffects[3].enabled, before) << key;
    }
}

// The list shows only the start of the sound's name and hides Repeat: every cell of a row tells the whole
// row in the window's language, as plain text whatever the names hold.
TEST_F(SoundListTest, SoundRowTipTellsTheWholeRow) {
    WriteConfig(
        "[SOUND]\n2_FILE=/x/y/horn.wav\n2_NAME=<b>Horn</b>\n2_REPEAT=1\n3_FILE=/x/y/beep.wav\n3_NAME=Beep\n");
    // What a tip reads as: rich text is laid out the way the tool tip lays it out.
    auto shown = [](const QString& tip) {
        if (!Qt::mightBeRichText(tip)) return tip;
        QTextDocument document;
        document.setHtml(tip);
        return document.toPlainText().replace(QChar::LineSeparator, '\n').replace(QChar::Nbsp, ' ');
    };
    using enum Language;
    struct Case {
        Language language;
        int row;
        const char* tip;
    } cases[] = {
        {kEnglish, 0,
         "Controller: 1\nON/OFF: ON\nSound: No sound file is set, so nothing plays (choose one in Sound "
         "Setting)\nRepeat: OFF"},
        {kEnglish, 1, "Controller: 2\nON/OFF: ON\nSound: <b>Horn</b>\n  /x/y/horn.wav\nRepeat: ON"},
        {kJapanese, 2, "コントローラ: 3\nON/OFF: ON\n音名: Beep\n  /x/y/beep.wav\n繰り返し: OFF"},
    };
    for (const Case& c : cases) {
        auto w = Open(c.language);
        const QTreeWidgetItem* row = w->soundList()->topLevelItem(c.row);
        EXPECT_EQ(shown(row->toolTip(0)).toStdString(), c.tip);
        for (int column = 1; column < 4; ++column) EXPECT_EQ(row->toolTip(column), row->toolTip(0)) << column;
    }
}

// The columns are wider than the list: it scrolls sideways to Repeat with the arrow keys and the wheel.
TEST_F(SoundListTest, SoundListScrollsToRepeat) {
    auto w = Open();
    w->show();
    QTreeWidget* list = w->soundList();
    const QScrollBar* bar = list->horizontalScrollBar();
    auto repeatInSight = [&] {
        const QRect cell = list->visualItemRect(list->topLevelItem(0));
        const int left = list->header()->sectionViewportPosition(3);
        return cell.isValid() && left >= 0 &&
               left + list->header()->sectionSize(3) <= list->viewport()->width();
    };
    ASSERT_FALSE(repeatInSight());
    EXPECT_TRUE(bar->isVisible());  // for the mouse
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(0));
    for (int i = 0; i < 100 && !repeatInSight(); ++i) {
        QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QApplication::sendEvent(list, &right);
    }
    EXPECT_TRUE(repeatInSight()) << bar->value() << " of " << bar->maximum();
    list->horizontalScrollBar()->setValue(0);
    for (int i = 0; i < 100 && !repeatInSight(); ++i) {
        QWheelEvent turn(QPointF(10, 10), list->viewport()->mapToGlobal(QPointF(10, 10)), QPoint(),
                         QPoint(-120, 0), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(list->viewport(), &turn);
    }
    EXPECT_TRUE(repeatInSight()) << list->horizontalScrollBar()->value();
}

}  // namespace
}  // namespace zanth
