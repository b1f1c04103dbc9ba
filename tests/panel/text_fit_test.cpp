// Every text of the main window, the two settings dialogs and the About box is whole in its control, in
// both languages: nothing elided, nothing cut off by the control's edge.
#include <gtest/gtest.h>

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStyleOptionGroupBox>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <fstream>
#include <memory>

#include "../link/device_tree.h"
#include "base/app_context.h"
#include "control/devices_factory.h"
#include "input/mapping.h"
#include "model/controller_model.h"
#include "panel/about_dialog.h"
#include "panel/fit_text.h"
#include "panel/japanese_text.h"
#include "panel/link_monitor.h"
#include "panel/link_note.h"
#include "panel/main_window.h"
#include "panel/operation_settings_dialog.h"
#include "panel/sound_settings_dialog.h"
#include "sound/sound_output.h"

namespace zanth {
namespace {

class SilentOutput : public SoundOutput {
  public:
    void Start(const std::string&) override {}
    void Retrigger(const std::string&) override {}
    void Stop() override {}
};

QString Name(const QWidget* w) {
    QString n = w->metaObject()->className();
    for (const QObject* p = w->parent(); p; p = p->parent())
        if (p->isWidgetType() && static_cast<const QWidget*>(p)->isWindow()) {
            n = QString(p->metaObject()->className()) + "/" + n;
            break;
        }
    return n;
}

// Collects what does not fit, one line per text.
class FitWalker {
  public:
    QStringList faults;

    void Walk(QWidget* window) {
        for (QWidget* w : window->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(window)) continue;
            if (auto* t = qobject_cast<QTreeWidget*>(w))
                Tree(t);
            else if (auto* c = qobject_cast<QCheckBox*>(w))
                Check(c);
            else if (auto* b = qobject_cast<QPushButton*>(w))
                Button(b);
            else if (auto* l = qobject_cast<QLabel*>(w))
                Label(l);
            else if (auto* e = qobject_cast<QLineEdit*>(w))
                Edit(e);
            else if (auto* g = qobject_cast<QGroupBox*>(w))
                Group(g);
            else if (auto* x = qobject_cast<QComboBox*>(w))
                Combo(x);
            InsideParent(w);
        }
    }

  private:
    void Fault(const QWidget* w, const QString& text, int need, int room) {
        faults << QString("%1 \"%2\": needs %3 px, has %4").arg(Name(w), text).arg(need).arg(room);
    }
    static QString Plain(QString text) { return text.replace("&&", "\x01").remove('&').replace("\x01", "&"); }
    void InsideParent(const QWidget* w) {
        const QWidget* p = w->parentWidget();
        if (p && !w->isWindow() && !p->rect().contains(w->geometry()) &&
            !qobject_cast<const QScrollBar*>(w) && !p->inherits("QAbstractScrollArea") &&
            !p->inherits("QHeaderView"))
            faults << Name(w) + " reaches outside its window";
    }
    void Fits(const QWidget* w, const QString& text, QSize need, QSize room) {
        if (need.width() > room.width())
            Fault(w, text, need.width(), room.width());
        else if (need.height() > room.height())
            Fault(w, text + " (height)", need.height(), room.height());
    }
    void Button(QPushButton* b) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        const QRect room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
        const QString text = Plain(b->text());
        Fits(b, text, b->fontMetrics().size(0, text), room.size());
    }
    void Check(QCheckBox* c) {
        QStyleOptionButton opt;
        opt.initFrom(c);
        opt.text = c->text();
        const QRect room = c->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, c);
        const QString text = Plain(c->text());
        Fits(c, text, c->fontMetrics().size(0, text), room.size());
    }
    void Label(QLabel* l) {
        if (l->text().isEmpty() || l->pixmap().cacheKey() != 0) return;
        const QRect room = l->contentsRect();
        if (l->wordWrap()) {
            const int need = l->heightForWidth(l->width());
            if (need > l->height()) Fault(l, l->text() + " (wrapped height)", need, l->height());
            return;
        }
        Fits(l, l->text(), l->fontMetrics().size(0, l->text()), room.size());
    }
    // Boxes that only show (status texts, a button's name, a file's length); one the user types in scrolls.
    void Edit(QLineEdit* e) {
        if (e->text().isEmpty() || !e->isReadOnly()) return;
        QStyleOptionFrame opt;
        opt.initFrom(e);
        opt.lineWidth = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, e) : 0;
        QRect room = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e);
        room = room.marginsRemoved(e->textMargins());
        // QLineEdit keeps two pixels on each side and one for the cursor.
        const int width = room.width() - 2 * 2 - 1;
        Fits(e, e->text(), e->fontMetrics().size(0, e->text()), QSize(width, room.height()));
    }
    void Group(QGroupBox* g) {
        QStyleOptionGroupBox opt;
        opt.initFrom(g);
        opt.text = g->title();
        opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
        opt.textAlignment = g->alignment();
        const QRect label =
            g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
        if (!g->rect().contains(label)) Fault(g, g->title(), label.right() + 1, g->width());
    }
    void Combo(QComboBox* x) {
        QStyleOptionComboBox opt;
        opt.initFrom(x);
        opt.editable = x->isEditable();
        const QRect room =
            x->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, x);
        // A box that cuts its entry in the middle shows only what it cut.
        if (const auto* cut = dynamic_cast<const MiddleElidedComboBox*>(x)) {
            Fits(x, cut->shownText(), x->fontMetrics().size(0, cut->shownText()), room.size());
            return;
        }
        for (int i = 0; i < x->count(); ++i)
            Fits(x, x->itemText(i), x->fontMetrics().size(0, x->itemText(i)), room.size());
    }
    void Tree(QTreeWidget* t) {
        QHeaderView* h = t->header();
        int total = 0;
        for (int c = 0; c < t->columnCount(); ++c) {
            if (h->isSectionHidden(c)) continue;
            const int room = h->sectionSize(c);
            total += room;
            const QString heading = t->headerItem()->text(c);
            if (h->sectionSizeHint(c) > room) Fault(t, "heading " + heading, h->sectionSizeHint(c), room);
            for (int r = 0; r < t->topLevelItemCount(); ++r) {
                const QModelIndex index = t->model()->index(r, c);
                QStyleOptionViewItem opt;
                opt.initFrom(t);
                opt.widget = t;
                opt.font = t->font();
                opt.fontMetrics = t->fontMetrics();
                opt.features = QStyleOptionViewItem::HasDisplay;
                const int need = t->itemDelegateForIndex(index)->sizeHint(opt, index).width();
                if (need > room) Fault(t, t->topLevelItem(r)->text(c), need, room);
            }
        }
        // Columns wider than the list are reached by scrolling.
        if (total > t->viewport()->width() && t->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOff)
            faults << Name(t) + " is wider than its list and cannot scroll";
    }
};

class TextFitTest : public ::testing::TestWithParam<Language> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        const char* system = GetParam() == Language::kJapanese ? "Japanese" : "English";
        StartupInfo info{system, false, dir_.path().toStdString(), {}, {}};
        app_ = std::make_unique<AppContext>(info);
        // The program's font in Japanese, as main() sets it.
        if (app_->japanese()) UseJapaneseFont();
    }
    void TearDown() override { QApplication::setFont(font_); }
    // Shown, so that layouts and style sheets have settled.
    void Check(QWidget* w) {
        w->show();
        QApplication::processEvents();
        FitWalker walker;
        walker.Walk(w);
        EXPECT_TRUE(walker.faults.isEmpty()) << walker.faults.join("\n").toStdString();
        w->hide();
    }
    QTemporaryDir dir_;
    std::unique_ptr<AppContext> app_;
    const QFont font_ = QApplication::font();
};

TEST_P(TextFitTest, MainWindow) {
    // Long sound names and a file without a name: the list scrolls sideways, its cells stay whole.
    std::ofstream(dir_.filePath("Zanth-Emulator.ini").toStdString())
        << "[SOUND]\n1_NAME=A rather long name for a sound\n1_FILE=/tmp/horn.wav\n"
           "2_FILE=/media/sounds/a-file-with-a-long-name.wav\n";
    MainWindow w(*app_, MakeSession(*app_, LoadSettings(app_->configPath)));
    w.setMessageBoxesEnabled(false);
    Check(&w);
    // Both states of the status texts and the Connect caption.
    w.keyboardStatus()->setText(QString::fromUtf8(app_->Tr(Msg::kKeyboardNotReady)));
    w.gamepadStatus()->setText(QString::fromUtf8(app_->Tr(Msg::kGamepadNotReady)));
    w.connectButton()->setText(QString::fromUtf8(app_->Tr(Msg::kDisconnect)));
    Check(&w);
    w.keyboardStatus()->setText(QString::fromUtf8(app_->Tr(Msg::kKeyboardReady)));
    w.gamepadStatus()->setText(QString::fromUtf8(app_->Tr(Msg::kGamepadReady)));
    Check(&w);
    // Below the notes' lines the controller's body begins: they have no room for a line more.
    for (const QLabel* note : {w.linkNote(), w.playbackNote()})
        EXPECT_LT(note->height(), (kNoteLines + 1) * note->fontMetrics().lineSpacing());
    // The note beside the battery meter, with every reason a lost port has and a long stable name: the
    // reason stays in sight, the device's end (its serial number and interface) too.
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const QString tail = "A50285BI-if00-port0";
    using Kind = LinkFailure::Kind;
    for (LinkState link : {LinkState::kReconnecting, LinkState::kPortLost})
        for (Kind kind : {Kind::kUnplugged, Kind::kIoError, Kind::kStalled, Kind::kHungUp, Kind::kGarbage}) {
            PanelState state;
            state.link = link;
            state.failure = LinkFailure{kind, byId, "End of file"};
            const LinkNote note =
                ComposeLinkNote(state, app_->language, w.linkNote()->fontMetrics(), w.linkNote()->width());
            EXPECT_TRUE(note.text.section('\n', -1).endsWith(tail)) << note.text.toStdString();
            EXPECT_TRUE(note.tip.endsWith(QString::fromStdString(byId)));
            w.linkNote()->setText(note.text);
            w.linkNote()->show();
            Check(&w);
        }
    // What a bridge said before it closed is shown whole, in the same room; the device then stays in the tip.
    const std::string words = "Device open failure: Value or file not found";
    PanelState bridge;
    bridge.link = LinkState::kReconnecting;
    bridge.failure = LinkFailure{Kind::kHungUp, "tcp://127.0.0.1:2000", BridgeClosedDetail(words)};
    const LinkNote said =
        ComposeLinkNote(bridge, app_->language, w.linkNote()->fontMetrics(), w.linkNote()->width());
    EXPECT_TRUE(QString(said.text).remove(QChar(0x2060)).contains(QString::fromStdString(words)))
        << said.text.toStdString();
    EXPECT_TRUE(said.tip.endsWith("tcp://127.0.0.1:2000"));
    w.linkNote()->setText(said.text);
    Check(&w);
    PanelState stale;
    stale.meterStale = true;
    w.linkNote()->setText(ComposeLinkNote(stale, app_->language, w.linkNote()->fontMetrics(), 0).text);
    Check(&w);
    w.linkNote()->hide();
    // The marks of recording and playing, and the notes of a played session: the longest reasons.
    const auto tr = [&](Msg id) { return QString::fromUtf8(app_->Tr(id)); };
    const QString gaps = tr(Msg::kPlaybackGaps).arg(99).arg(599.9) + tr(Msg::kPlaybackShortened).arg(3.0);
    for (auto [mark, note] : {std::pair{Msg::kRecordMark, tr(Msg::kPlaybackFinished)},
                              {Msg::kPlayMark, tr(Msg::kPlaybackCutShort).arg(123456) + "\n" + gaps},
                              {Msg::kPlayMark, tr(Msg::kPlaybackStopped).arg(tr(Msg::kPlayEndGamepad))},
                              {Msg::kPlayMark, tr(Msg::kPlaybackStopped).arg(tr(Msg::kPlayEndRemote))},
                              {Msg::kPlayMark, tr(Msg::kPlaybackStopped).arg(tr(Msg::kPlayEndDisconnect))},
                              {Msg::kPlayMark, tr(Msg::kPlaybackStopped).arg(tr(Msg::kPlayEndPortLost))}}) {
        w.activityMark()->setText(tr(mark));
        w.activityMark()->show();
        w.playbackNote()->setText(note);
        w.playbackNote()->show();
        Check(&w);
    }
    // The monitor's buttons, Pause turned Resume.
    w.OpenMonitor();
    Check(w.monitorWindow());
    w.monitorWindow()->pauseButton()->click();
    Check(w.monitorWindow());
}

// Two adapters of one make: the closed port box keeps the end of each entry, where their serial numbers are.
TEST_P(TextFitTest, PortBoxTellsTwinAdaptersApart) {
    test::DeviceTree tree;
    const test::UsbInfo ftdi{"0403", "6001", "FT232R USB UART", "FTDI", ""};
    const std::string serials[] = {"A50285BI", "A50285BJ"};
    for (int i = 0; i < 2; ++i) {
        test::UsbInfo info = ftdi;
        info.serial = serials[i];
        const std::string name = "ttyUSB" + std::to_string(i);
        tree.AddUsb(name, "1-" + std::to_string(i + 1), info,
                    "usb-FTDI_FT232R_USB_UART_" + info.serial + "-if00-port0");
    }
    qputenv("ZANTH_DEVICE_ROOT", QByteArray::fromStdString(tree.root()));
    MainWindow w(*app_, MakeSession(*app_, LoadSettings(app_->configPath)));
    qunsetenv("ZANTH_DEVICE_ROOT");
    w.setMessageBoxesEnabled(false);
    auto* box = dynamic_cast<MiddleElidedComboBox*>(w.portCombo());
    ASSERT_NE(box, nullptr);
    for (int i = 0; i < 2; ++i) {
        box->setCurrentIndex(i);
        Check(&w);
        EXPECT_TRUE(box->shownText().startsWith(QString("COM%1").arg(i + 1)))
            << box->shownText().toStdString();
        EXPECT_TRUE(box->shownText().contains(QString::fromStdString(serials[i])))
            << box->shownText().toStdString();
    }
}

// A [PORTS] path as long as a path may be: the box and its open list stay within the window, the entry cut in
// its middle.
TEST_P(TextFitTest, ALongestPortPathIsCutInTheBoxAndInItsList) {
    const std::string path = "/dev/serial/" + std::string(2047 - 16, 'x') + "-end";
    std::ofstream(dir_.filePath("Zanth-Emulator.ini").toStdString()) << "[PORTS]\nCOM1=" << path << "\n";
    MainWindow w(*app_, MakeSession(*app_, LoadSettings(app_->configPath)));
    w.setMessageBoxesEnabled(false);
    auto* box = dynamic_cast<MiddleElidedComboBox*>(w.portCombo());
    ASSERT_NE(box, nullptr);
    box->setCurrentIndex(0);
    Check(&w);
    EXPECT_TRUE(box->shownText().startsWith("COM1")) << box->shownText().toStdString();
    box->showPopup();
    const QWidget* list = box->view()->window();
    EXPECT_TRUE(list->isVisible());
    EXPECT_LE(list->width(), w.width());
    EXPECT_EQ(box->view()->textElideMode(), Qt::ElideMiddle);
    box->hidePopup();
}

TEST_P(TextFitTest, OperationSettingsDialog) {
    const auto gamepads = MakeGamepadSource(app_->language);
    ControllerModel model;
    BuildModel(model, *app_, Settings{});
    OperationSettingsDialog dialog(*app_, *gamepads, FillMappingRows(model));
    Check(&dialog);
    // The axis rows offer the axis names, the Detect button waits.
    dialog.mappingList()->setCurrentItem(dialog.mappingList()->topLevelItem(kMappingRows - 1));
    dialog.detectButton()->click();
    Check(&dialog);
}

TEST_P(TextFitTest, SoundSettingsDialog) {
    ControllerModel model;
    BuildModel(model, *app_, Settings{});
    std::vector<SoundSettingRow> rows = RowsFromModel(model);
    rows[0].name = "A rather long name for a sound";
    rows[0].file = "/media/sounds/a-file-with-a-long-name.wav";
    rows[1].length = 12300;
    rows[1].repeat = 1;
    rows[1].repeatMode = 1;
    SilentOutput output;
    SoundSettingsDialog dialog(*app_, output, rows);
    Check(&dialog);
    // A name typed in the dialog widens its column too.
    dialog.nameEdit()->setText(QString(40, 'W'));
    Check(&dialog);
}

TEST_P(TextFitTest, AboutBox) {
    AboutDialog about(*app_);
    Check(&about);
    // A settings path that fits the screen is shown whole (at twice the size the test's screen is too
    // narrow).
    if (QGuiApplication::primaryScreen()->availableGeometry().width() >= 800) {
        EXPECT_TRUE(about.settingsLabel()->text().endsWith(QString::fromStdString(app_->configPath)));
    }
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, TextFitTest,
                         ::testing::Values(Language::kEnglish, Language::kJapanese), [](const auto& info) {
                             return info.param == Language::kJapanese ? "Japanese" : "English";
                         });

}  // namespace
}  // namespace zanth
