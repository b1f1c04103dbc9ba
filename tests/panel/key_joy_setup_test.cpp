// The operation settings dialog, driven through its controls.
#include "panel/key_joy_setup.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <fstream>

#include "base/app.h"
#include "model/controller_model.h"
#include "model/ini_file.h"
#include "model/settings.h"

namespace zanth {
namespace {

class KeyJoySetupTest : public testing::Test {
  protected:
    void Open(int language = 0) {
        app_ = std::make_unique<CPadoraApp>(
            StartupInfo{language == 1 ? "Japanese" : "English", false, "/nonexistent", {}, {}});
        names_ = std::make_unique<CJoystick>(app_->language);
        BuildModel(model_, *app_, Settings{});
        rows_ = FillMappingRows(model_);
        dialog_ = std::make_unique<CKeyJoySetup>(*app_, *names_, rows_);
        dialog_->setMessageBoxesEnabled(false);
    }
    void Select(int row) {
        dialog_->mappingList()->setCurrentItem(dialog_->mappingList()->topLevelItem(row));
    }
    QString Cell(int row, int column) const {
        return dialog_->mappingList()->topLevelItem(row)->text(column);
    }
    QString Path(const char* name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
    std::unique_ptr<CPadoraApp> app_;
    std::unique_ptr<CJoystick> names_;
    ControllerModel model_;
    std::vector<MappingEntry> rows_;
    std::unique_ptr<CKeyJoySetup> dialog_;
};

TEST_F(KeyJoySetupTest, TextsInBothLanguages) {
    const std::pair<int, const char*> cases[] = {
        {1,
         "操作設定|キーボード|ゲームパッド|ゲームパッドデータ|設定保存|設定読込|キャンセル|コントローラ|値|"
         "X軸|なし"},
        {0,
         "Operation Setting|Keyboard|Game Pad|Game Pad Data|Save|Load|Cancel|Controller|Value|X-Axis|none"},
    };
    for (auto [language, expected] : cases) {
        Open(language);
        const CKeyJoySetup& d = *dialog_;
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

TEST_F(KeyJoySetupTest, CombosFollowTheRowTypeAndEditsStayInTheDialogsRows) {
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

TEST_F(KeyJoySetupTest, SaveAndLoadGoThroughTheChosenFile) {
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
}

}  // namespace
}  // namespace zanth
