#include "panel/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QWheelEvent>
#include <chrono>
#include <fstream>
#include <set>

#include <pty.h>
#include <unistd.h>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "base/clock.h"
#include "base/paths.h"
#include "control/devices_factory.h"
#include "model/file_lock.h"
#include "model/ini_file.h"
#include "panel/about_dialog.h"
#include "panel/battery_meter.h"
#include "panel/dialog_units.h"
#include "panel/link_indicator.h"
#include "panel/sound_settings_dialog.h"
#include "sound/sound_player.h"

namespace zanth {
namespace {

// The sound player the program's devices gave the window's session.
SoundPlayer& Player(MainWindow& w) {
    return dynamic_cast<SoundPlayer&>(w.session().sound());
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    std::string ConfigPath() const { return dir_.filePath("Zanth-Emulator.ini").toStdString(); }
    void WriteConfig(const std::string& text) { std::ofstream(ConfigPath()) << text; }

    std::unique_ptr<MainWindow> Open(Language language = Language::kEnglish) {
        const char* system = language == Language::kJapanese ? "Japanese" : "English";
        StartupInfo info{system, false, dir_.path().toStdString(), {}, {}};
        app_ = std::make_unique<AppContext>(info);
        auto w = std::make_unique<MainWindow>(*app_, MakeSession(*app_, LoadSettings(app_->configPath)));
        w->setMessageBoxesEnabled(false);
        return w;
    }

    static void Mouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
        const Qt::MouseButtons held =
            type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
        QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), button,
                      type == QEvent::MouseMove ? Qt::MouseButtons(Qt::LeftButton) : held, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
    static QPoint Centre(const ControllerItem& item) {
        return {item.left + item.width / 2, item.top + item.height / 2};
    }

    QTemporaryDir dir_;
    std::unique_ptr<AppContext> app_;
};

TEST_F(MainWindowTest, TextsInBothLanguages) {
    struct Case {
        Language language;
        const char *connect, *close, *title, *legend, *heading0, *heading2;
        int width0;
    } cases[] = {
        {Language::kEnglish, "Connect", "CLOSE", "Zanth-Emulator Version 1.0.0.2", "Keyboard Setting",
         "Controller", "Sound", 60},
        {Language::kJapanese, "接続", "閉じる", "Zanthエミュレータ Version 1.0.0.2", "キーボード設定の表示",
         "コントローラ", "音名", 50},
    };
    for (const Case& c : cases) {
        auto w = Open(c.language);
        EXPECT_EQ(w->connectButton()->text(), QString::fromUtf8(c.connect));
        EXPECT_EQ(w->closeButton()->text(), QString::fromUtf8(c.close));
        EXPECT_EQ(w->windowTitle(), QString::fromUtf8(c.title));
        EXPECT_EQ(w->legendCheck()->text(), QString::fromUtf8(c.legend));
        auto* header = w->soundList()->headerItem();
        EXPECT_EQ(header->text(0), QString::fromUtf8(c.heading0));
        EXPECT_EQ(header->text(1), "ON/OFF");
        EXPECT_EQ(header->text(2), QString::fromUtf8(c.heading2));
        // The list's own widths, or wider where the texts need it.
        EXPECT_GE(w->soundList()->header()->sectionSize(0), c.width0);
        EXPECT_GE(w->soundList()->header()->sectionSize(3), 100);
        EXPECT_EQ(w->soundList()->topLevelItemCount(), 16);
        EXPECT_EQ(w->portCombo()->count(), 48);
        EXPECT_EQ(w->portCombo()->itemText(47), "COM48");
        EXPECT_EQ(w->resolutionCombo()->count(), 5);
    }
    auto ja = Open(Language::kJapanese);
    EXPECT_EQ(ja->soundList()->topLevelItem(12)->text(0), QString::fromUtf8("パッド 上"));
}

TEST_F(MainWindowTest, ControlsAtTheirPlacesAndHiddenOnesHidden) {
    auto w = Open();
    EXPECT_EQ(w->size(), QSize(800, 600));
    EXPECT_EQ(w->connectButton()->geometry(), DialogUnitsToPixels(395, 285, 56, 14));
    EXPECT_EQ(w->closeButton()->geometry(), DialogUnitsToPixels(394, 359, 57, 16));
    EXPECT_EQ(w->sliderX()->geometry(), DialogUnitsToPixels(227, 366, 75, 25));
    EXPECT_EQ(w->sliderY()->geometry(), DialogUnitsToPixels(305, 307, 24, 80));
    EXPECT_EQ(w->batteryMeter()->geometry(), DialogUnitsToPixels(168, 147, 116, 14));
    EXPECT_EQ(w->soundList()->geometry(), DialogUnitsToPixels(6, 63, 81, 185));
    EXPECT_TRUE(w->axisLine()->isHidden());
    EXPECT_TRUE(w->okButton()->isHidden());
    EXPECT_FALSE(w->okButton()->isEnabled());
    EXPECT_TRUE(w->batteryCheck()->isHidden());
    EXPECT_TRUE(w->batteryCheck()->isChecked());
    EXPECT_EQ(w->batteryMeter()->minimum(), 50);
    EXPECT_EQ(w->batteryMeter()->maximum(), 80);
    // No control covers an item of the picture.
    for (QWidget* c : w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (c->isHidden() || !c->isWidgetType() || c->isWindow()) continue;
        for (int i = 0; i < kInputItemCount + 1; ++i) {
            const ControllerItem& it = w->model().item(i);
            EXPECT_FALSE(c->geometry().intersects(QRect(it.left, it.top, it.width, it.height)))
                << c->metaObject()->className() << " covers " << it.iniKey;
        }
    }
}

// A second copy of the program does not open exactly on the first; every place stays on the screen.
TEST(WindowPlace, CopiesCascadeFromTheCentreAndStayOnTheScreen) {
    const QSize size(800, 600);
    for (const QRect& screen : {QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024), QRect(0, 0, 800, 600)}) {
        const QPoint first = MainWindow::CascadePlace(screen, size, 0);
        EXPECT_EQ(QRect(first, size).center(), screen.center()) << screen.width();
        QList<QPoint> seen{first};
        for (int others = 1; others < 40; ++others) {
            const QPoint p = MainWindow::CascadePlace(screen, size, others);
            EXPECT_TRUE(screen.contains(QRect(p, size))) << screen.width() << " " << others;
            if (seen.contains(p)) break;  // wrapped round: the steps start again
            EXPECT_GT(p.x(), seen.back().x());
            EXPECT_GT(p.y(), seen.back().y());
            seen << p;
        }
        if (screen.width() > size.width()) {
            EXPECT_GE(seen.size(), 2) << screen.width();
        }
    }
}

TEST_F(MainWindowTest, SliderGeometryFollowsResolution) {
    auto w = Open();
    for (int r = 0; r < 5; ++r) {
        const int d = 1 << r;
        w->resolutionCombo()->setCurrentIndex(r);
        for (QSlider* s : {w->sliderX(), w->sliderY()}) {
            EXPECT_EQ(s->minimum(), 0);
            EXPECT_EQ(s->maximum(), 256 / d);
            EXPECT_EQ(s->value(), 128 / d);
            EXPECT_EQ(s->tickInterval(), 64 / d);
        }
        EXPECT_EQ(w->model().sliderResolution, r);
    }
    // The stick byte is the position times the divisor, capped at 255.
    w->resolutionCombo()->setCurrentIndex(1);
    w->sliderX()->setValue(128);
    w->sliderY()->setValue(64);
    w->ControllerTick();
    EXPECT_EQ(w->model().rightStickX, 255);
    EXPECT_EQ(w->model().rightStickY, 128);
    EXPECT_EQ(w->axisLine()->text(), "80:80:ff:80");
}

TEST_F(MainWindowTest, SliderResolutionFromSettings) {
    WriteConfig("[SYSTEM]\nSLIDER=4\n");
    auto w = Open();
    EXPECT_EQ(w->resolutionCombo()->currentIndex(), 4);
    EXPECT_EQ(w->sliderX()->maximum(), 16);
    EXPECT_EQ(w->sliderX()->value(), 8);
}

TEST_F(MainWindowTest, HitTestExcludesBothEdges) {
    auto w = Open();
    const ControllerItem& f1 = w->model().item(kItemF1);
    struct Case {
        QPoint at;
        bool pressed;
    } cases[] = {
        {{f1.left, f1.top + 5}, false},
        {{f1.left + 5, f1.top}, false},
        {{f1.left + 1, f1.top + 1}, true},
        {{f1.left + f1.width - 1, f1.top + f1.height - 1}, true},
        {{f1.left + f1.width, f1.top + 5}, false},
        {{f1.left + 5, f1.top + f1.height}, false},
    };
    for (const Case& c : cases) {
        Mouse(w.get(), QEvent::MouseButtonPress, c.at);
        EXPECT_EQ(f1.mouseDown == 1, c.pressed) << c.at.x() << "," << c.at.y();
        Mouse(w.get(), QEvent::MouseButtonRelease, c.at);
        EXPECT_EQ(f1.mouseDown, 0);
    }
}

TEST_F(MainWindowTest, OverlappingItemsAreAllPressed) {
    auto w = Open();
    ControllerItem& a = w->model().item(kItem1);
    ControllerItem& b = w->model().item(kItemPadUp);
    b.left = a.left + 10;
    b.top = a.top + 10;
    Mouse(w.get(), QEvent::MouseButtonPress, {a.left + 20, a.top + 20});
    EXPECT_EQ(a.mouseDown, 1);
    EXPECT_EQ(b.mouseDown, 1);
    // A click on the picture moves the focus off whatever control had it.
    EXPECT_EQ(w->focusWidget(), w->connectButton());
}

TEST_F(MainWindowTest, DragOffAnItemReleasesItAndPressesNothingElse) {
    auto w = Open();
    const ControllerItem& one = w->model().item(kItem1);
    const ControllerItem& two = w->model().item(kItem2);
    Mouse(w.get(), QEvent::MouseButtonPress, Centre(one));
    EXPECT_EQ(one.mouseDown, 1);
    Mouse(w.get(), QEvent::MouseMove, Centre(two));
    EXPECT_EQ(one.mouseDown, 0);
    EXPECT_EQ(two.mouseDown, 0);
    Mouse(w.get(), QEvent::MouseButtonRelease, Centre(two));
    EXPECT_EQ(two.mouseDown, 0);
}

TEST_F(MainWindowTest, ModeClickFlipsLedAndDoubleClickFlipsTwice) {
    auto w = Open();
    const ControllerItem& mode = w->model().item(kItemMode);
    const int& led = w->model().ledItem().latched;
    ASSERT_EQ(led, 1);
    Mouse(w.get(), QEvent::MouseButtonPress, Centre(mode));
    EXPECT_EQ(led, 0);
    EXPECT_EQ(mode.mouseDown, 1);
    Mouse(w.get(), QEvent::MouseButtonRelease, Centre(mode));
    // A double click arrives as press, release, double click, release.
    Mouse(w.get(), QEvent::MouseButtonPress, Centre(mode));
    Mouse(w.get(), QEvent::MouseButtonRelease, Centre(mode));
    Mouse(w.get(), QEvent::MouseButtonDblClick, Centre(mode));
    Mouse(w.get(), QEvent::MouseButtonRelease, Centre(mode));
    EXPECT_EQ(led, 0);
    EXPECT_EQ(mode.mouseDown, 0);
}

TEST_F(MainWindowTest, ArrowKeysMoveSlidersUnlessAListKeepsThem) {
    auto w = Open();
    auto key = [](QWidget* target, int k, QEvent::Type type = QEvent::KeyPress) {
        QKeyEvent e(type, k, Qt::NoModifier);
        QApplication::sendEvent(target, &e);
    };
    // The window starts with the focus where the arrows drive, not on the port list.
    w->show();
    w->activateWindow();
    QElapsedTimer waited;
    waited.start();
    while (QApplication::focusWidget() == nullptr && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    const int port = w->portCombo()->currentIndex();
    key(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(w->portCombo()->currentIndex(), port);
    EXPECT_EQ(w->sliderY()->value(), 129);
    w->sliderY()->setValue(128);

    for (int i = 0; i < 3; ++i) key(w->connectButton(), Qt::Key_Right);
    EXPECT_EQ(w->sliderX()->value(), 131);
    key(w->closeButton(), Qt::Key_Up);
    EXPECT_EQ(w->sliderY()->value(), 127);  // up is towards the minimum at the top
    key(w->connectButton(), Qt::Key_Right, QEvent::KeyRelease);
    EXPECT_EQ(w->sliderX()->value(), 131);  // without Self Neutral the slider stays
    w->selfNeutralCheck()->setChecked(true);
    key(w->connectButton(), Qt::Key_Right, QEvent::KeyRelease);
    EXPECT_EQ(w->sliderX()->value(), 128);
    EXPECT_EQ(w->model().rightStickX, 128);

    // The port combo keeps its own arrow keys.
    w->portCombo()->setCurrentIndex(0);
    key(w->portCombo(), Qt::Key_Down);
    EXPECT_EQ(w->portCombo()->currentIndex(), 1);
    EXPECT_EQ(w->sliderY()->value(), 127);
}

TEST_F(MainWindowTest, RightButtonUpOnASliderCentresIt) {
    auto w = Open();
    w->sliderY()->setValue(40);
    ASSERT_FALSE(w->selfNeutralCheck()->isChecked());
    Mouse(w->sliderY(), QEvent::MouseButtonRelease, {5, 5}, Qt::RightButton);
    EXPECT_EQ(w->sliderY()->value(), 128);
    w->sliderX()->setValue(10);
    Mouse(w->sliderX(), QEvent::MouseButtonRelease, {5, 5}, Qt::LeftButton);
    EXPECT_EQ(w->sliderX()->value(), 10);  // a left release centres only with Self Neutral
    w->xButton()->click();
    EXPECT_EQ(w->sliderX()->value(), 128);
}

TEST_F(MainWindowTest, WheelOnASliderCentresItAfter300msWithSelfNeutral) {
    std::uint32_t now = 0xFFFFFF00u;  // the tick count wraps during the test
    SetTickSource([&] { return now; });
    auto w = Open();
    w->selfNeutralCheck()->setChecked(true);
    w->sliderX()->setValue(140);
    QWheelEvent wheel(QPointF(5, 5), w->sliderX()->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w->sliderX(), &wheel);
    const int moved = w->sliderX()->value();
    EXPECT_NE(moved, 140);  // the slider moves by itself on the wheel
    EXPECT_EQ(w->model().wheelSlider, 1);
    now += 300;
    w->ControllerTick();
    EXPECT_EQ(w->sliderX()->value(), moved);  // not yet: more than 300 ms must pass
    now += 1;
    w->ControllerTick();
    EXPECT_EQ(w->sliderX()->value(), 128);
    EXPECT_EQ(w->model().wheelTime, 0u);

    // Without Self Neutral a pending centring is dropped.
    w->sliderY()->setValue(100);
    QWheelEvent wheelY(QPointF(5, 5), w->sliderY()->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                       Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w->sliderY(), &wheelY);
    w->selfNeutralCheck()->setChecked(false);
    now += 1000;
    w->ControllerTick();
    EXPECT_NE(w->sliderY()->value(), 128);
    EXPECT_EQ(w->model().wheelSlider, 0);
    SetTickSource(nullptr);
}

// Closes the modal dialog that the next call opens, with OK or Cancel.
void AnswerNextDialog(bool ok) {
    QTimer::singleShot(0, [ok] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            ok ? d->accept() : d->reject();
    });
}

TEST_F(MainWindowTest, SettingsDialogsKeepEverythingOnOkWithoutChanges) {
    WriteConfig(
        "[CONTROLLER]\nLST1=30\nPAD2=44\n[JOYSTICK]\nRY=4\n[SOUND]\n2_FILE=/x/horn.wav\n2_REPEAT=1\n");
    auto w = Open();
    const ControllerModel before = w->model();
    for (bool ok : {true, false}) {
        AnswerNextDialog(ok);
        w->OnOperationSetting();
        AnswerNextDialog(ok);
        w->OnSoundSetting();
        for (int i = 0; i < kInputItemCount; ++i) {
            EXPECT_EQ(w->model().item(i).keyCode, before.item(i).keyCode) << i;
            EXPECT_EQ(w->model().item(i).padButton, before.item(i).padButton) << i;
        }
        for (int a = 0; a < 4; ++a)
            EXPECT_EQ(w->model().axisBindings[a].axisIndex, before.axisBindings[a].axisIndex);
        EXPECT_EQ(w->model().soundEffects[1].file, "/x/horn.wav");
        EXPECT_EQ(w->model().soundEffects[1].repeat, 1);
        EXPECT_EQ(w->soundList()->topLevelItem(1)->text(2), "horn.wav");
        EXPECT_EQ(w->soundList()->topLevelItem(1)->text(3), "ON");
    }
}

TEST_F(MainWindowTest, OkInTheSoundDialogLetsThePreviewPlayOn) {
    // Ten seconds of 8-bit mono at 1 kHz: still playing when the dialog closes.
    const std::string wav = dir_.filePath("long.wav").toStdString();
    const std::uint32_t data = 10000;
    std::string header("RIFF....WAVEfmt \x10\0\0\0\x01\0\x01\0\xe8\x03\0\0\xe8\x03\0\0\x01\0\x08\0data....",
                       44);
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
    };
    put32(4, 36 + data);
    put32(40, data);
    std::ofstream(wav, std::ios::binary) << header << std::string(data, '\x90');
    WriteConfig("[SOUND]\n1_FILE=" + wav + "\n");
    auto w = Open();
    ASSERT_TRUE(Player(*w).available());
    bool previewed = false;
    QTimer::singleShot(0, [&] {
        auto* d = qobject_cast<SoundSettingsDialog*>(QApplication::activeModalWidget());
        if (d == nullptr) return;
        d->list()->setCurrentItem(d->list()->topLevelItem(0));
        d->playButton()->click();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!Player(*w).IsPlaying() && std::chrono::steady_clock::now() < end)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        previewed = Player(*w).IsPlaying();
        d->okButton()->click();
    });
    w->OnSoundSetting();
    ASSERT_TRUE(previewed);
    EXPECT_TRUE(Player(*w).IsPlaying());
}

TEST_F(MainWindowTest, ConnectFailureNamesDeviceAndReason) {
    WriteConfig("[PORTS]\nCOM1=/nonexistent/tty\nCOM2=/dev/null\n");
    auto w = Open();
    w->portCombo()->setCurrentIndex(0);
    w->ConnectOrDisconnect();
    EXPECT_FALSE(w->connected());
    EXPECT_TRUE(w->lastConnectError().startsWith("Connection failed\nCOM1 (/nonexistent/tty): "))
        << w->lastConnectError().toStdString();
    EXPECT_EQ(w->connectButton()->text(), "Connect");
    EXPECT_TRUE(w->operationButton()->isEnabled());
    w->portCombo()->setCurrentIndex(1);
    w->ConnectOrDisconnect();
    EXPECT_TRUE(w->lastConnectError().contains("/dev/null")) << w->lastConnectError().toStdString();
    EXPECT_EQ(w->portCombo()->itemData(0, Qt::ToolTipRole).toString(), "/nonexistent/tty");
    // Entries that open nothing are greyed, and every one of them stays in the list.
    EXPECT_FALSE(w->portCombo()->itemData(0, Qt::ForegroundRole).isValid());
    EXPECT_TRUE(w->portCombo()->itemData(47, Qt::ForegroundRole).isValid());
    EXPECT_EQ(w->portCombo()->itemData(47, Qt::ToolTipRole).toString(), "no device");
    EXPECT_EQ(w->portCombo()->count(), 48);

    // A bridge that refuses: the failure says what to check. The port was free a moment ago, so nothing
    // listens there.
    quint16 closed = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        closed = probe.serverPort();
    }
    EXPECT_FALSE(w->lastConnectError().contains("bridge is running"));
    w.reset();
    WriteConfig("[PORTS]\nCOM3=tcp://127.0.0.1:" + std::to_string(closed) + "\n");
    auto bridged = Open();
    bridged->portCombo()->setCurrentIndex(2);
    bridged->ConnectOrDisconnect();
    QElapsedTimer waited;
    waited.start();
    while (bridged->lastConnectError().isEmpty() && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_TRUE(bridged->lastConnectError().contains("bridge is running"))
        << bridged->lastConnectError().toStdString();
}

TEST_F(MainWindowTest, ClosingSavesTheSettings) {
    auto w = Open();
    w->resolutionCombo()->setCurrentIndex(2);
    w->reject();
    ASSERT_TRUE(w->saveResult().has_value());
    EXPECT_TRUE(w->saveResult()->ok);
    EXPECT_EQ(IniFile::Load(ConfigPath()).GetInt("SYSTEM", "SLIDER", -1), 2);
}

// The copy is what closing would write, with whatever else the current file holds; the current file itself
// is not written, and a file another window uses is left as it is.
TEST_F(MainWindowTest, SaveSettingsAsCopiesIntoAFileNoOtherWindowUses) {
    WriteConfig("[PORTS]\nCOM3=/dev/ttyUSB7\n");
    auto w = Open();
    w->setMessageBoxesEnabled(false);
    w->resolutionCombo()->setCurrentIndex(2);
    const QString copy = dir_.filePath("robot-b.ini");
    ASSERT_TRUE(w->SaveSettingsTo(copy)) << w->lastMessage().toStdString();
    const IniFile saved = IniFile::Load(copy.toStdString());
    EXPECT_EQ(saved.GetInt("SYSTEM", "SLIDER", -1), 2);
    EXPECT_EQ(saved.GetString("PORTS", "COM3", "", 64), "/dev/ttyUSB7");
    EXPECT_EQ(IniFile::Load(ConfigPath()).GetInt("SYSTEM", "SLIDER", -1), -1);

    const QString used = dir_.filePath("robot-c.ini");
    std::ofstream(used.toStdString()) << "[SYSTEM]\nSLIDER=4\n";
    const FileLock::Result other = FileLock::Acquire(used.toStdString(), false);
    ASSERT_EQ(other.outcome, FileLock::Outcome::kLocked);
    EXPECT_FALSE(w->SaveSettingsTo(used));
    EXPECT_EQ(IniFile::Load(used.toStdString()).GetInt("SYSTEM", "SLIDER", -1), 4);
    EXPECT_TRUE(w->lastMessage().contains(QString::number(::getpid()))) << w->lastMessage().toStdString();
}

TEST_F(MainWindowTest, SaveSettingsAsNeverReplacesAFileThatWasNotRead) {
    WriteConfig(std::string(IniFile::kMaxFileBytes + 1, ';'));
    auto w = Open();
    w->setMessageBoxesEnabled(false);
    EXPECT_FALSE(w->SaveSettingsTo(QString::fromStdString(ConfigPath())));
    EXPECT_EQ(QFileInfo(QString::fromStdString(ConfigPath())).size(), IniFile::kMaxFileBytes + 1);
}

TEST_F(MainWindowTest, HelpMenuAndAboutBoxInBothLanguages) {
    struct Case {
        Language language;
        const char *manual, *about, *caption, *version;
    } cases[] = {
        {Language::kEnglish, "Display Manual[pdf]", "&About Zanth-Emulator...", "About Zanth-Emulator",
         "Zanth-Emulator Version 1.0.0.2"},
        {Language::kJapanese, "ﾏﾆｭｱﾙ[pdf]を表示", "バージョン情報 Zanthエミュレータ(&A)...",
         "バージョン情報 Zanthエミュレータ", "Zanthエミュレータ Version 1.0.0.2"},
    };
    for (const Case& c : cases) {
        auto w = Open(c.language);
        const auto actions = w->helpMenu()->actions();
        ASSERT_GE(actions.size(), 2);
        EXPECT_EQ(actions[0]->text(), QString::fromUtf8(c.manual));
        EXPECT_EQ(actions[1]->text(), QString::fromUtf8(c.about));
        AboutDialog about(w->app());
        EXPECT_EQ(about.windowTitle(), QString::fromUtf8(c.caption));
        EXPECT_EQ(about.versionLabel()->text(), QString::fromUtf8(c.version));
    }
}

TEST_F(MainWindowTest, F1OffersTheHelpMenu) {
    auto w = Open();
    w->show();
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &f1);
    EXPECT_TRUE(w->helpMenu()->isVisible());
    w->helpMenu()->hide();
}

// Catches what the desktop would be asked to open, instead of starting a viewer.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    UrlCatcher() { QDesktopServices::setUrlHandler("file", this, "Open"); }
    ~UrlCatcher() override { QDesktopServices::unsetUrlHandler("file"); }
    QList<QUrl> opened;
  public slots:
    void Open(const QUrl& url) { opened.push_back(url); }
};

TEST_F(MainWindowTest, ManualOpensInTheViewerAndAMissingOneIsNamedWithWhereItWasLookedFor) {
    UrlCatcher catcher;
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    for (Language language : {Language::kEnglish, Language::kJapanese}) {
        auto w = Open(language);
        const QString name = language == Language::kJapanese
                                 ? QString::fromUtf8("Zanthエミュレータ取扱説明書.pdf")
                                 : QStringLiteral("Zanth-Emulator_10_ENG.pdf");
        w->OpenManual();  // no file here: nothing is opened, and the file and the folders are named
        EXPECT_TRUE(catcher.opened.isEmpty());
        for (const QString& part : {name, dir_.path(), QString::fromStdString(InstalledDocFolder())})
            EXPECT_TRUE(w->lastMessage().contains(part)) << w->lastMessage().toStdString();
        std::ofstream(dir_.filePath(name).toStdString()) << "%PDF-1.4\n";
        w->OpenManual();
        ASSERT_EQ(catcher.opened.size(), 1);
        EXPECT_EQ(catcher.opened[0].toLocalFile(), QDir(dir_.path()).absoluteFilePath(name));
        catcher.opened.clear();
        QFile::remove(dir_.filePath(name));
    }
    QDir::setCurrent(cwd);
}

TEST_F(MainWindowTest, WhileConnectedTheSettingsButtonsAreShutTheLampTellsNoReplyAndALostPortIsNamed) {
    for (Language language : {Language::kEnglish, Language::kJapanese}) {
        const bool ja = language == Language::kJapanese;
        int master = -1, slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        const std::string device = ttyname(slave);
        WriteConfig("[PORTS]\nCOM3=" + device + "\n");
        close(slave);
        auto w = Open(language);
        w->portCombo()->setCurrentIndex(2);
        w->ConnectOrDisconnect();
        ASSERT_TRUE(w->connected()) << w->lastConnectError().toStdString();
        EXPECT_EQ(w->connectButton()->text(), QString::fromUtf8(ja ? "切断" : "Disconnect"));
        EXPECT_FALSE(w->operationButton()->isEnabled());
        EXPECT_FALSE(w->soundButton()->isEnabled());
        // No reply comes: the lamp still shows the messages going out, never in the green of a robot that
        // replies.
        using Light = LinkIndicator::Light;
        std::set<Light> seen;
        const auto stale = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!seen.contains(Light::kNoReplyBlink) && std::chrono::steady_clock::now() < stale) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            if (w->session().state().meterStale) seen.insert(w->linkIndicator()->light());
        }
        EXPECT_TRUE(seen.contains(Light::kNoReplyBlink));
        EXPECT_FALSE(seen.contains(Light::kBlink) || seen.contains(Light::kIdle));
        // The robot's end goes away: the window names the device and why, instead of waiting for a reply,
        // and keeps trying until Disconnect.
        close(master);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (w->connected() && std::chrono::steady_clock::now() < end)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        // The reason before the device.
        const QString note = w->linkNote()->text();
        EXPECT_EQ(QString(note).remove(QChar(0x2060)).section('\n', 1, 1),
                  QString::fromUtf8(ja ? "取り外されました" : "unplugged"))
            << note.toStdString();
        EXPECT_EQ(note.section('\n', -1), QString::fromStdString(device));
        EXPECT_FALSE(w->linkNote()->isHidden());
        EXPECT_FALSE(w->operationButton()->isEnabled());
        w->ConnectOrDisconnect();
        EXPECT_EQ(w->connectButton()->text(), QString::fromUtf8(ja ? "接続" : "Connect"));
        EXPECT_TRUE(w->operationButton()->isEnabled());
        EXPECT_TRUE(w->soundButton()->isEnabled());
        EXPECT_TRUE(w->linkNote()->isHidden());
    }
}

}  // namespace
}  // namespace zanth

#include "main_window_test.moc"
