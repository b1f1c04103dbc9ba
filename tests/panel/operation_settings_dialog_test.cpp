// The operation settings dialog, driven through its controls.
#include "panel/operation_settings_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>
#include <QWindow>
#include <fstream>
#include <functional>

#include "../input/virtual_gamepad.h"
#include "base/app_context.h"
#include "base/clock.h"
#include "control/devices_factory.h"
#include "model/controller_model.h"
#include "model/ini_file.h"
#include "model/settings.h"

namespace zanth {
namespace {

// Runs the event loop (and so the dialog's timers) until `done` or `ms` have passed.
bool WaitUntil(const std::function<bool()>& done, int ms = 3000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// A key press as the X11 platform delivers it: the native scan code is the X keycode, scan code + 8.
void PressKey(QWidget* to, int key, int scanCode) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, static_cast<quint32>(scanCode + 8), 0, 0);
    QApplication::sendEvent(to, &press);
}

template <class Base>
class DialogFixture : public Base {
  protected:
    void Open(Language language = Language::kEnglish) {
        app_ = std::make_unique<AppContext>(StartupInfo{
            language == Language::kJapanese ? "Japanese" : "English", false, "/nonexistent", {}, {}});
        gamepads_ = MakeGamepadSource(app_->language);
        BuildModel(model_, *app_, Settings{});
        rows_ = FillMappingRows(model_);
        dialog_ = std::make_unique<OperationSettingsDialog>(*app_, *gamepads_, rows_);
        dialog_->setMessageBoxesEnabled(false);
    }
    void Select(int row) {
        dialog_->mappingList()->setCurrentItem(dialog_->mappingList()->topLevelItem(row));
    }
    QString Cell(int row, int column) const {
        return dialog_->mappingList()->topLevelItem(row)->text(column);
    }
    QString Path(const char* name) const { return dir_.filePath(name); }
    QString Tip(int row, int column) const {
        return dialog_->mappingList()->topLevelItem(row)->toolTip(column);
    }
    // Shown and active (the gamepad is read at the foreground level), with a first reading on screen.
    void ShowReading() {
        dialog_->show();
        dialog_->activateWindow();
        ASSERT_TRUE(WaitUntil([&] {
            return dialog_->isActiveWindow() && !dialog_->dataList()->topLevelItem(0)->text(1).isEmpty();
        }));
    }

    QTemporaryDir dir_;
    std::unique_ptr<AppContext> app_;
    std::unique_ptr<GamepadSource> gamepads_;
    ControllerModel model_;
    std::vector<MappingEntry> rows_;
    std::unique_ptr<OperationSettingsDialog> dialog_;
};
using OperationSettingsDialogTest = DialogFixture<testing::Test>;

// With a virtual gamepad plugged in; the dialog goes before the pads do.
class OperationSettingsDialogPadTest : public DialogFixture<test::VirtualGamepadTest> {
  protected:
    void TearDown() override {
        dialog_.reset();
        SetTickSource({});
        test::VirtualGamepadTest::TearDown();
    }
};

TEST_F(OperationSettingsDialogTest, TextsInBothLanguages) {
    const std::pair<Language, const char*> cases[] = {
        {Language::kJapanese,
         "操作設定|キーボード|ゲームパッド|ゲームパッドデータ|設定保存|設定読込|キャンセル|コントローラ|値|"
         "X軸|なし"},
        {Language::kEnglish,
         "Operation Setting|Keyboard|Game Pad|Game Pad Data|Save|Load|Cancel|Controller|Value|X-Axis|none"},
    };
    for (auto [language, expected] : cases) {
        Open(language);
        const OperationSettingsDialog& d = *dialog_;
        EXPECT_EQ(d.settingGroup()->title(), d.windowTitle());
        const QStringList texts{d.windowTitle(),
                                d.keyboardLabel()->text(),
                                d.gamepadLabel()->text(),
                                d.dataGroup()->title(),
                                d.saveButton()->text(),
                                d.loadButton()->text(),
                                d.cancelButton()->text(),
                                d.mappingList()->headerItem()->text(0),
                                d.dataList()->headerItem()->text(1),
                                d.dataList()->topLevelItem(0)->text(0),
                                d.keyboardCombo()->itemText(0)};
        EXPECT_EQ(texts.join('|'), QString::fromUtf8(expected));
        EXPECT_EQ(d.dataList()->topLevelItemCount(), kDataViewRows);
    }
}

TEST_F(OperationSettingsDialogTest, CombosFollowTheRowTypeAndEditsStayInTheDialogsRows) {
    Open();
    dialog_->show();
    QComboBox* key = dialog_->keyboardCombo();
    QComboBox* pad = dialog_->gamepadCombo();
    EXPECT_EQ(dialog_->currentRow(), 0);
    EXPECT_EQ(key->currentText(), "I");
    EXPECT_EQ(pad->currentText(), "Button -3");
    EXPECT_EQ(Cell(15, 2), "");  // direction rows show no gamepad binding

    Select(kMappingModeRow);  // MODE: key only, and its -999 has no name
    EXPECT_TRUE(key->isEnabled());
    EXPECT_FALSE(pad->isEnabled());
    EXPECT_EQ(pad->count(), 0);
    EXPECT_EQ(Cell(kMappingModeRow, 2), "");

    Select(19);  // PAD UP: key only
    EXPECT_TRUE(key->isEnabled());
    EXPECT_EQ(key->currentText(), "Y");
    EXPECT_FALSE(pad->isEnabled());
    EXPECT_EQ(pad->currentIndex(), -1);
    key->setCurrentIndex(app_->FindIndexByScanCode(30));
    EXPECT_EQ(dialog_->rows()[19].keyCode, 30);
    EXPECT_EQ(Cell(19, 1), "A");

    Select(26);  // RIGHT STICK Y: axis only
    EXPECT_FALSE(key->isEnabled());
    EXPECT_EQ(key->currentIndex(), -1);
    ASSERT_EQ(pad->count(), 7);
    EXPECT_EQ(pad->currentText(), "RZ-Axis");
    pad->setCurrentIndex(0);
    EXPECT_EQ(dialog_->rows()[26].axis, -1);
    EXPECT_EQ(Cell(26, 2), "none");
    EXPECT_EQ(dialog_->rows()[26].keyCode, 0);  // clearing the keyboard combo for this row stored nothing

    Select(1);  // button "2": both, and "none" clears each
    key->setCurrentIndex(0);
    pad->setCurrentIndex(0);
    EXPECT_EQ(dialog_->rows()[1].keyCode, -1);
    EXPECT_EQ(dialog_->rows()[1].padButton, -1);
    EXPECT_EQ(Cell(1, 1), "none");
    EXPECT_EQ(Cell(1, 2), "none");

    dialog_->reject();
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(dialog_->rows()[1].keyCode, -1);
    EXPECT_EQ(rows_, FillMappingRows(model_));  // the caller's rows change only when it applies them
}

TEST_F(OperationSettingsDialogTest, SaveAndLoadGoThroughTheChosenFile) {
    Open();
    QString chosen = Path("mine.kjd");
    dialog_->setFileChooser([&](bool) { return chosen; });
    dialog_->keyboardCombo()->setCurrentIndex(0);  // row 0 unbound from the keyboard
    dialog_->saveButton()->click();
    EXPECT_EQ(dialog_->lastError(), "");
    EXPECT_EQ(IniFile::Load(chosen.toStdString()).GetInt("KEY", "0", 99), -1);

    // Row 0 renamed and made an axis, the other rows missing: the list is rebuilt and row 0 selected again.
    chosen = Path("other.kjd");
    std::ofstream(chosen.toStdString()) << "[NAME]\n0=Renamed\n[TYPE]\n0=2\n[AXIS]\n0=3\n";
    Select(5);
    dialog_->loadButton()->click();
    EXPECT_TRUE(dialog_->lastError().contains("missing from the file: BTN, KEY"))
        << dialog_->lastError().toStdString();
    EXPECT_EQ(dialog_->currentRow(), 0);
    EXPECT_EQ(Cell(0, 0), "Renamed");
    EXPECT_EQ(Cell(0, 2), "RX-Axis");
    EXPECT_FALSE(dialog_->keyboardCombo()->isEnabled());
    EXPECT_EQ(dialog_->gamepadCombo()->currentText(), "RX-Axis");
    Select(1);  // type -1: nothing to bind
    EXPECT_EQ(Cell(1, 0) + Cell(1, 1) + Cell(1, 2), "name");
    EXPECT_FALSE(dialog_->keyboardCombo()->isEnabled());
    EXPECT_FALSE(dialog_->gamepadCombo()->isEnabled());

    // Cancelled: no row changes, but row 0 is selected again.
    const auto before = dialog_->rows();
    chosen.clear();
    dialog_->loadButton()->click();
    EXPECT_EQ(dialog_->rows(), before);
    EXPECT_EQ(dialog_->currentRow(), 0);

    chosen = Path("missing/x.kjd");  // shown, and no row changes
    dialog_->loadButton()->click();
    EXPECT_TRUE(dialog_->lastError().contains("could not be read")) << dialog_->lastError().toStdString();
    EXPECT_EQ(dialog_->rows(), before);

    chosen = Path("notes.kjd");  // a text file renamed: refused, the bindings stay
    std::ofstream(chosen.toStdString()) << "Lesson plan\nmove forward 3 s\n";
    dialog_->loadButton()->click();
    EXPECT_TRUE(dialog_->lastError().contains("not an operation setting file"))
        << dialog_->lastError().toStdString();
    EXPECT_EQ(dialog_->rows(), before);
}

// Detect binds what the hand works next, as the row's type allows; a key or button two rows share is marked
// on both.
TEST_F(OperationSettingsDialogPadTest, DetectBindsTheNextButtonAxisOrKeyAndMarksShared) {
    SDL_Joystick* pad = Plug(test::XboxStylePad());
    Open();
    ShowReading();
    EXPECT_TRUE(dialog_->dataGroup()->toolTip().contains("X-Box Style Pad"))
        << dialog_->dataGroup()->toolTip().toStdString();
    auto detect = [&](int row) {
        Select(row);
        dialog_->detectButton()->click();
        EXPECT_TRUE(dialog_->detecting());
    };
    auto detected = [&] { return WaitUntil([&] { return !dialog_->detecting(); }); };

    detect(0);  // button "1" takes the right face button, which button "2" has too
    SDL_JoystickSetVirtualButton(pad, 1, SDL_PRESSED);
    ASSERT_TRUE(detected());
    SDL_JoystickSetVirtualButton(pad, 1, SDL_RELEASED);
    EXPECT_EQ(dialog_->rows()[0].padButton, 0);
    EXPECT_EQ(Cell(0, 2), "Button -1");
    EXPECT_EQ(dialog_->gamepadCombo()->currentText(), "Button -1");
    EXPECT_EQ(Tip(0, 2), "Also bound to 2");
    EXPECT_EQ(Tip(1, 2), "Also bound to 1");

    detect(25);  // RIGHT STICK X takes the right stick where the factory bindings read it
    SDL_JoystickSetVirtualAxis(pad, 3, SDL_JOYSTICK_AXIS_MAX);
    ASSERT_TRUE(detected());
    SDL_JoystickSetVirtualAxis(pad, 3, 0);
    EXPECT_EQ(dialog_->rows()[25].axis, 2);
    EXPECT_EQ(Cell(25, 2), "Z-Axis");

    detect(23);  // an axis row takes no key; Escape ends the wait, not the dialog
    PressKey(dialog_->detectButton(), Qt::Key_A, 30);
    EXPECT_TRUE(dialog_->detecting());
    PressKey(dialog_->detectButton(), Qt::Key_Escape, 1);
    EXPECT_FALSE(dialog_->detecting());
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(dialog_->rows()[23], rows_[23]);

    detect(1);  // "A" is LEFT STICK LEFT's key too
    PressKey(dialog_->detectButton(), Qt::Key_A, 30);
    EXPECT_FALSE(dialog_->detecting());
    EXPECT_EQ(dialog_->rows()[1].keyCode, 30);
    EXPECT_EQ(Cell(1, 1), "A");
    EXPECT_EQ(Tip(1, 1), "Also bound to LEFT STICK LEFT");
    EXPECT_EQ(Tip(18, 1), "Also bound to 2");
    dialog_->keyboardCombo()->setCurrentIndex(0);  // unbound again: no longer shared
    EXPECT_EQ(Tip(18, 1), "");
}

// On an X server the key's native scan code is its X keycode: a key typed there with xdotool binds the row.
// The test runs itself again on a private Xvfb, with Qt's X11 platform.
TEST_F(OperationSettingsDialogTest, DetectTakesAKeyTypedOnAnXServer) {
    const char* kChild = "ZANTH_DETECT_ON_X";
    if (!qEnvironmentVariableIsSet(kChild)) {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty() ||
            QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "needs Xvfb and xdotool";
        QProcess xvfb;  // -displayfd picks a free display and writes its number to our pipe
        xvfb.start("Xvfb",
                   {"-displayfd", "1", "-screen", "0", "800x600x24", "-r", "-noreset", "-nolisten", "tcp"});
        ASSERT_TRUE(xvfb.waitForStarted());
        ASSERT_TRUE(WaitUntil([&] { return xvfb.canReadLine() || xvfb.waitForReadyRead(50); }, 10000));
        const QString display = ":" + QString::fromLatin1(xvfb.readLine()).trimmed();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", display);
        env.insert(kChild, "1");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=OperationSettingsDialogTest.DetectTakesAKeyTypedOnAnXServer"});
        const bool finished = child.waitForFinished(60000);
        const QString output = QString::fromLocal8Bit(child.readAll());
        xvfb.terminate();
        xvfb.waitForFinished(5000);
        ASSERT_TRUE(finished) << output.toStdString();
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
        EXPECT_TRUE(output.contains("[  PASSED  ] 1 test."))
            << output.toStdString();  // it ran, and did not skip
        return;
    }
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    Open();
    dialog_->show();
    ASSERT_TRUE(WaitUntil([&] { return dialog_->windowHandle()->isExposed(); }));
    // No window manager: focus goes by xdotool.
    QProcess::execute("xdotool", {"windowfocus", "--sync", QString::number(dialog_->winId())});
    ASSERT_TRUE(WaitUntil([&] { return dialog_->isActiveWindow(); }));
    Select(1);
    dialog_->detectButton()->click();
    QProcess::execute("xdotool", {"key", "a"});
    ASSERT_TRUE(WaitUntil([&] { return !dialog_->detecting(); }));
    EXPECT_EQ(dialog_->rows()[1].keyCode, 30);
    EXPECT_EQ(Cell(1, 1), "A");
}

// Values that just changed are lit for a second; a pressed button is scrolled into view.
// The pads connected now follow "any pad"; the live view reads the one chosen, and a chosen pad that is
// away keeps its entry, so that OK does not lose the choice.
TEST_F(OperationSettingsDialogPadTest, ListsThePadsAndReadsTheChosenOne) {
    Plug(test::XboxStylePad());
    test::PadShape second = test::XboxStylePad();
    second.name = "Second Pad";
    second.product = 2;
    Plug(second);
    Open();
    dialog_->setPadChoice({});
    ShowReading();
    QComboBox* pads = dialog_->padChoiceCombo();
    ASSERT_EQ(pads->count(), 3);
    EXPECT_EQ(pads->currentIndex(), 0);
    EXPECT_TRUE(dialog_->dataGroup()->toolTip().contains("X-Box Style Pad"));
    EXPECT_TRUE(dialog_->rumbleBox()->isChecked());

    pads->setCurrentIndex(2);
    EXPECT_TRUE(pads->currentText().startsWith("Second Pad"));
    EXPECT_EQ(dialog_->padChoice().name, "Second Pad");
    ASSERT_TRUE(WaitUntil([&] { return dialog_->dataGroup()->toolTip().contains("Second Pad"); }));
    EXPECT_EQ(dialog_->padChoice().guid.size(), 32u);

    const PadChoice away{std::string(32, 'f'), "Away Pad", "usb1/1-2"};
    dialog_->setPadChoice(away);
    ASSERT_EQ(pads->count(), 4);
    EXPECT_TRUE(pads->currentText().contains("Away Pad"));
    EXPECT_EQ(dialog_->padChoice(), away);
    pads->setCurrentIndex(0);
    EXPECT_TRUE(dialog_->padChoice().any());
}

TEST_F(OperationSettingsDialogPadTest, LiveViewLightsWhatMovedAndShowsThePressedButton) {
    std::uint32_t now = 5000;
    SetTickSource([&] { return now; });
    SDL_Joystick* pad = Plug(test::XboxStylePad());
    Open();
    ShowReading();
    const int top = kDataViewRows - 128 + 2;  // the top face button
    QTreeWidget* list = dialog_->dataList();
    auto visible = [&] {
        return list->visualItemRect(list->topLevelItem(top)).intersects(list->viewport()->rect());
    };
    ASSERT_FALSE(visible());

    SDL_JoystickSetVirtualButton(pad, 3, SDL_PRESSED);
    ASSERT_TRUE(WaitUntil([&] { return dialog_->dataRowLit(top); }));
    EXPECT_TRUE(visible());
    EXPECT_FALSE(dialog_->dataRowLit(0));  // nothing else moved
    now += 999;
    WaitUntil([] { return false; }, 250);
    EXPECT_TRUE(dialog_->dataRowLit(top));
    now += 1;
    EXPECT_TRUE(WaitUntil([&] { return !dialog_->dataRowLit(top); }));
}

}  // namespace
}  // namespace zanth
