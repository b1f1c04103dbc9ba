#include "panel/sound_settings_dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/app_context.h"
#include "model/controller_model.h"
#include "model/settings.h"
#include "sound/sound_file.h"
#include "sound/sound_output.h"

namespace zanth {
namespace {

class RecordingOutput : public SoundOutput {
  public:
    void Start(const std::string& file) override { calls.push_back("start " + file); }
    void Retrigger(const std::string& file) override { calls.push_back("retrigger " + file); }
    void Stop() override { calls.push_back("stop"); }
    bool available() const override { return available_; }
    std::vector<std::string> calls;
    bool available_ = true;
};

struct Shown {
    QString caption, text;
};

// 8-bit mono PCM at 1000 bytes per second holding 2500 bytes: 2.5 s.
void WriteWav(const std::string& path) {
    static const char header[] =
        "RIFF\xec\x09\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\xe8\x03\0\0\xe8\x03\0\0\x01\0\x08\0data\xc4\x09\0\0";
    std::ofstream(path, std::ios::binary)
        << std::string(header, sizeof header - 1) << std::string(2500, '\x80');
}

class SoundSettingsDialogTest : public ::testing::Test {
  protected:
    std::unique_ptr<SoundSettingsDialog> Open(Language language, std::vector<SoundSettingRow> rows) {
        const char* system = language == Language::kJapanese ? "Japanese" : "English";
        app_ = std::make_unique<AppContext>(StartupInfo{system, false, dir_.path().toStdString(), {}, {}});
        auto dlg = std::make_unique<SoundSettingsDialog>(*app_, output_, std::move(rows));
        dlg->setMessageSink([this](const QString& caption, const QString& text) {
            shown_.push_back({caption, text});
        });
        dlg->show();
        return dlg;
    }
    static std::vector<SoundSettingRow> TwoRows() {
        return {{"1", "beep", "", 3000, 1, 1}, {"PAD UP", "", "/nowhere/missing.wav", 0, 0, 1}};
    }
    // What the box does when the focus leaves it.
    static void LeavePlayTime(SoundSettingsDialog& dlg, const QString& text) {
        dlg.playTimeEdit()->setText(text);
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(dlg.playTimeEdit(), &out);
    }
    static QString Cell(const SoundSettingsDialog& dlg, int row, int column) {
        return dlg.list()->topLevelItem(row)->text(column);
    }

    QTemporaryDir dir_;
    std::unique_ptr<AppContext> app_;
    RecordingOutput output_;
    std::vector<Shown> shown_;
};

TEST_F(SoundSettingsDialogTest, PlaybackTimeIsCheckedWhenTheBoxIsLeft) {
    struct Case {
        QString typed;
        QString caption;  // empty: no message
        QString box;
        int length;
        QString column;
    } cases[] = {
        {"61", "WARNING", "60.0", 60000, "60.0"}, {"60.0", "", "60.0", 60000, "60.0"},
        {"", "", "0.0", 0, "File Length"},        {"1.25", "", "1.2", 1200, "1.2"},
        {"0.05", "", "0.0", 0, "File Length"},    {".", "", "0.0", 0, "File Length"},
        {"1.2.3", "", "1.2", 1200, "1.2"},  // the box takes four characters: "1.2."
        {"abc", "ERROR", "abc", 3000, "3.0"},     {"-1", "ERROR", "-1", 3000, "3.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        auto dlg = Open(Language::kEnglish, TwoRows());
        shown_.clear();
        LeavePlayTime(*dlg, c.typed);
        ASSERT_EQ(shown_.size(), c.caption.isEmpty() ? 0u : 1u);
        if (!c.caption.isEmpty()) {
            EXPECT_EQ(shown_[0].caption, c.caption);
        }
        EXPECT_EQ(dlg->playTimeEdit()->text(), c.box);
        EXPECT_EQ(dlg->rows()[0].length, c.length);
        EXPECT_EQ(Cell(*dlg, 0, 2), c.column);
    }
}

TEST_F(SoundSettingsDialogTest, TextsInBothLanguages) {
    auto en = Open(Language::kEnglish, TwoRows());
    EXPECT_EQ(en->windowTitle(), "Sound Setting");
    EXPECT_EQ(en->list()->headerItem()->text(4), "End Type");
    EXPECT_EQ(Cell(*en, 0, 4), "File Length");
    LeavePlayTime(*en, "x");
    EXPECT_EQ(shown_.back().text, "Invalied Value");

    auto ja = Open(Language::kJapanese, TwoRows());
    EXPECT_EQ(ja->windowTitle(), QString::fromUtf8("効果音設定"));
    EXPECT_EQ(Cell(*ja, 1, 2), QString::fromUtf8("ファイル長"));
    EXPECT_EQ(ja->fileLengthEdit()->text(), QString::fromUtf8("不明"));
    LeavePlayTime(*ja, "99");
    EXPECT_EQ(shown_.back().caption, QString::fromUtf8("警告"));
    EXPECT_EQ(shown_.back().text, QString::fromUtf8("再生時間は0.0～60.0秒の範囲で指定してください"));
}

TEST_F(SoundSettingsDialogTest, RowChangeFillsTheControlsAndEditsGoIntoTheCurrentRow) {
    const std::string wav = dir_.filePath("tone.wav").toStdString();
    WriteWav(wav);
    auto dlg = Open(Language::kEnglish, TwoRows());
    EXPECT_EQ(dlg->currentRow(), 0);
    EXPECT_EQ(dlg->nameEdit()->text(), "beep");
    EXPECT_EQ(dlg->playTimeEdit()->text(), "3.0");

    // A row whose file is missing: unknown length, and its end type still shown.
    dlg->list()->setCurrentItem(dlg->list()->topLevelItem(1));
    EXPECT_EQ(dlg->currentRow(), 1);
    EXPECT_EQ(dlg->buttonEdit()->text(), "PAD UP");
    EXPECT_EQ(dlg->fileLengthEdit()->text(), "Unknown");
    EXPECT_FALSE(dlg->repeatCheck()->isChecked());
    EXPECT_TRUE(dlg->endTypeCheck()->isChecked());
    // Marked as missing in the list; a row without a file is not.
    auto missingTip = [&](int row) { return dlg->list()->topLevelItem(row)->toolTip(5); };
    EXPECT_TRUE(missingTip(1).startsWith("File not found: /nowhere/missing.wav"))
        << missingTip(1).toStdString();
    EXPECT_EQ(missingTip(0), "");

    // A copied portable folder: the old absolute path names no file, the same name in Data is taken.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(app_->dataFolder)));
    WriteWav(app_->dataFolder + "/copied.wav");
    dlg->fileEdit()->setText("/gone/run1/Data/copied.wav");
    EXPECT_EQ(dlg->fileLengthEdit()->text(), "2.5");
    EXPECT_EQ(missingTip(1), "");
    EXPECT_EQ(dlg->rows()[1].file, "/gone/run1/Data/copied.wav");  // stored as it was

    dlg->nameEdit()->setText("100% \"up\"");
    dlg->fileEdit()->setText(QString::fromStdString(wav));
    EXPECT_EQ(dlg->fileLengthEdit()->text(), "2.5");
    dlg->repeatCheck()->click();
    dlg->endTypeCheck()->click();
    EXPECT_EQ(dlg->rows()[1], (SoundSettingRow{"PAD UP", "100% \"up\"", wav, 0, 1, 0}));
    EXPECT_EQ(dlg->rows()[0], TwoRows()[0]);
    EXPECT_EQ(Cell(*dlg, 1, 1), "100% \"up\"");
    EXPECT_EQ(Cell(*dlg, 1, 3), "ON");
    EXPECT_EQ(Cell(*dlg, 1, 4), "Stop");

    // Browsing: a cancelled choice changes nothing, a chosen file lands in the row.
    dlg->setFileChooser([] { return QString(); });
    dlg->browseButton()->click();
    EXPECT_EQ(dlg->rows()[1].file, wav);
    dlg->setFileChooser([] { return QString("/other/place.wav"); });
    dlg->browseButton()->click();
    EXPECT_EQ(dlg->rows()[1].file, "/other/place.wav");
    EXPECT_EQ(Cell(*dlg, 1, 5), "/other/place.wav");
    EXPECT_EQ(dlg->fileLengthEdit()->text(), "Unknown");
}

TEST_F(SoundSettingsDialogTest, AFileThePlayerWouldRefuseIsNamedOnceWhenChosenOrLeft) {
    const std::string wav = dir_.filePath("tone.wav").toStdString();
    WriteWav(wav);
    const std::string fifo = dir_.filePath("pipe.wav").toStdString();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto dlg = Open(Language::kEnglish, TwoRows());
    auto leave = [&] {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(dlg->fileEdit(), &out);
    };
    shown_.clear();
    dlg->fileEdit()->setText(QString::fromStdString(fifo));
    EXPECT_TRUE(shown_.empty()) << "a box while typing";
    leave();
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0].caption, "ERROR");
    // The limits, the file and the player's reason.
    EXPECT_TRUE(shown_[0].text.startsWith("Sound files must be WAV files of at most 64 MB"))
        << shown_[0].text.toStdString();
    EXPECT_TRUE(shown_[0].text.contains(QString::fromStdString(fifo)));
    EXPECT_TRUE(shown_[0].text.contains(QString::fromStdString(CheckSoundFile(fifo))));
    leave();
    EXPECT_EQ(shown_.size(), 1u) << "the same file named twice";

    dlg->setFileChooser([] { return QString("/dev/zero"); });
    dlg->browseButton()->click();
    ASSERT_EQ(shown_.size(), 2u);
    EXPECT_TRUE(shown_[1].text.contains("/dev/zero"));
    dlg->setFileChooser([&] { return QString::fromStdString(wav); });
    dlg->browseButton()->click();
    leave();
    EXPECT_EQ(shown_.size(), 2u) << "a playable file refused";
}

TEST_F(SoundSettingsDialogTest, TypedTextsAreHeldToTheirByteLimits) {
    auto dlg = Open(Language::kJapanese, TwoRows());
    dlg->nameEdit()->clear();
    // 21 three-byte characters would be 63 bytes: the 21st is refused.
    for (int i = 0; i < 21; ++i) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8("音"));
        QApplication::sendEvent(dlg->nameEdit(), &key);
    }
    EXPECT_EQ(dlg->rows()[0].name.size(), 60u);
    EXPECT_EQ(dlg->nameEdit()->text().toStdString(), dlg->rows()[0].name);
}

// With settings of the Windows program the limit counts in CP932, two bytes a character: a name of 31
// characters stays whole, takes no 32nd, and can be edited.
TEST_F(SoundSettingsDialogTest, ByteLimitsCountInTheSettingsFilesEncoding) {
    std::string on31;
    for (int i = 0; i < 31; ++i) on31 += "音";
    app_ = std::make_unique<AppContext>(StartupInfo{"Japanese", false, dir_.path().toStdString(), {}, {}});
    SoundSettingsDialog dlg(*app_, output_, {{"1", on31, "", 0, 0, 0}}, TextEncoding::kCp932);
    dlg.show();
    auto type = [&](const char* text) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUtf8(text));
        QApplication::sendEvent(dlg.nameEdit(), &key);
    };
    type("音");
    EXPECT_EQ(dlg.rows()[0].name, on31);
    QKeyEvent back(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
    QApplication::sendEvent(dlg.nameEdit(), &back);
    type("笛");
    EXPECT_EQ(dlg.rows()[0].name, on31.substr(0, 90) + "笛");
}

TEST_F(SoundSettingsDialogTest, EnterInTheEditBoxesDoesNotCloseTheDialog) {
    auto dlg = Open(Language::kEnglish, TwoRows());
    for (QLineEdit* edit : {dlg->nameEdit(), dlg->fileEdit(), dlg->playTimeEdit()}) {
        edit->setFocus();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
        QApplication::sendEvent(edit, &enter);
        EXPECT_TRUE(dlg->isVisible());
        EXPECT_NE(dlg->focusWidget(), edit);
    }
    EXPECT_EQ(dlg->result(), 0);
}

TEST_F(SoundSettingsDialogTest, PlayAndStop) {
    auto dlg = Open(Language::kEnglish, TwoRows());
    dlg->playButton()->click();  // row 0 has no file
    dlg->list()->setCurrentItem(dlg->list()->topLevelItem(1));
    dlg->playButton()->click();
    dlg->stopButton()->click();
    EXPECT_EQ(output_.calls, (std::vector<std::string>{"start /nowhere/missing.wav", "stop"}));
    EXPECT_TRUE(shown_.empty());
    // Without an audio device PLAY says so, once.
    output_.available_ = false;
    dlg->playButton()->click();
    dlg->playButton()->click();
    EXPECT_EQ(shown_.size(), 1u);
}

TEST_F(SoundSettingsDialogTest, RowsFromAndBackIntoTheModel) {
    app_ = std::make_unique<AppContext>(StartupInfo{"English", false, dir_.path().toStdString(), {}, {}});
    ControllerModel model;
    BuildModel(model, *app_, Settings{});
    SoundEffect& pad = model.soundEffects[12];
    pad = {pad.item, 1, 0, "up", "a.wav", 500, 0, 0};

    std::vector<SoundSettingRow> rows = RowsFromModel(model);
    ASSERT_EQ(rows.size(), 16u);
    EXPECT_EQ(rows[12], (SoundSettingRow{"PAD UP", "up", "a.wav", 500, 0, 0}));
    ApplyRows(rows, model);  // OK without changes
    EXPECT_EQ(RowsFromModel(model), rows);

    rows[12] = {"ignored", std::string(70, 'n'), "b.wav", 60000, 1, 1};
    ApplyRows(rows, model);
    EXPECT_EQ(RowsFromModel(model)[12],
              (SoundSettingRow{"PAD UP", std::string(62, 'n'), "b.wav", 60000, 1, 1}));
    EXPECT_EQ(pad.enabled, 0);  // the switch and the latch are not the dialog's
    EXPECT_EQ(pad.playing, 1);
}

}  // namespace
}  // namespace zanth
