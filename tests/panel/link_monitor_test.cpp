// The main window's side of the link monitor and of recorded sessions.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <functional>

#include "control/devices_factory.h"
#include "control/link_traffic.h"
#include "link/link_worker.h"
#include "panel/battery_plot.h"
#include "panel/link_monitor.h"

#include "panel/main_window.h"

namespace zanth {
namespace {

class LinkMonitorTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }

    void WriteConfig(const std::string& text) {
        std::ofstream(dir_.filePath("Zanth-Emulator.ini").toStdString()) << text;
    }
    std::unique_ptr<MainWindow> Open() {
        app_ = std::make_unique<AppContext>(StartupInfo{"English", false, dir_.path().toStdString(), {}, {}});
        auto w = std::make_unique<MainWindow>(*app_, MakeSession(*app_, LoadSettings(app_->configPath)));
        w->setMessageBoxesEnabled(false);
        return w;
    }
    static void Mouse(QWidget* w, QEvent::Type type, QPoint pos) {
        QMouseEvent e(type, QPointF(pos), w->mapToGlobal(QPointF(pos)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }

    QTemporaryDir dir_;
    std::unique_ptr<AppContext> app_;
};

// Replies come eight a second: the plot is rebuilt from its ten minutes of them once a second (every fourth
// refresh), not on every refresh, while the first reply shows at the refresh after it.
TEST_F(LinkMonitorTest, ThePlotIsRebuiltOnceASecondAndAtOnceForTheFirstReply) {
    app_ = std::make_unique<AppContext>(StartupInfo{"English", false, dir_.path().toStdString(), {}, {}});
    ControllerModel model;
    LinkWorker link;
    LinkTraffic traffic(*app_, model, link);
    LinkMonitorWindow window(*app_, traffic);
    auto reply = [&] {
        ReplyRead r;
        r.status = ReplyRead::Status::kOk;
        r.level = 70;
        r.atUs = LinkClockUs();
        traffic.monitor().OnReply(r);
    };
    auto shown = [&] {
        const MonitorModel::Plot& plot = window.plot()->plot();
        return plot.runs.empty() ? std::size_t{0} : plot.runs.back().size();
    };
    window.Refresh();
    reply();
    window.Refresh();
    ASSERT_EQ(shown(), 1u);
    int rebuilds = 0;
    for (int refresh = 0; refresh < 8; ++refresh) {
        reply();
        reply();
        const std::size_t before = shown();
        window.Refresh();
        rebuilds += shown() != before;
    }
    EXPECT_GE(rebuilds, 1);
    EXPECT_LE(rebuilds, 3);
}

// A played session gives way to Escape and to the mouse, and the window stays open; the monitor is one
// window, kept (with its place) when it is closed.
TEST_F(LinkMonitorTest, EscapeOrTheMouseStopsPlaybackAndTheMonitorKeepsItsPlace) {
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    WriteConfig("[PORTS]\nCOM1=" + std::string(ttyname(slave)) + "\n");
    close(slave);
    auto w = Open();
    w->show();
    w->portCombo()->setCurrentIndex(0);
    w->ConnectOrDisconnect();
    ASSERT_TRUE(w->connected()) << w->lastConnectError().toStdString();
    const QString session = dir_.filePath("held.zsr");
    {
        SessionRecorder recorder;
        std::string reason;
        ASSERT_TRUE(recorder.Begin(session.toStdString(), {ProgramVersion(), "COM1", "-"}, &reason));
        for (int i = 0; i < 100; ++i)
            recorder.Add(
                SentMessage{{'K', 0xFF, 0xFF, 0xFE, 0x80, 0x80, 0x80, 0x80, 0xF3}, i * 125000LL, -1});
        ASSERT_TRUE(recorder.Finish(&reason));
    }
    auto waitFor = [](auto done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!done() && std::chrono::steady_clock::now() < end)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        return done();
    };
    LinkTraffic& traffic = w->session().traffic();
    const std::function<void()> escape = [&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(w.get(), &key);
    };
    const std::function<void()> click = [&] {
        Mouse(w.get(), QEvent::MouseButtonPress, {20, 20});
        Mouse(w.get(), QEvent::MouseButtonRelease, {20, 20});
    };
    for (const auto& press : {escape, click}) {
        ASSERT_TRUE(w->PlayFrom(session)) << w->lastLinkError().toStdString();
        ASSERT_TRUE(waitFor([&] { return traffic.ShownItems().has_value(); }));
        press();
        EXPECT_FALSE(traffic.playing());
        EXPECT_TRUE(w->isVisible());
    }
    w->PlayFrom(dir_.filePath("missing.zsr"));
    EXPECT_TRUE(waitFor([&] { return w->lastLinkError().contains("The session cannot be played"); }));

    // Record and Play offer the Data folder of this run, like the other file choosers, not one in the
    // current folder.
    for (QAction* entry : w->helpMenu()->actions()) {
        if (entry->text() != "Record..." && entry->text() != "Play...") continue;
        QString offered;
        QTimer::singleShot(0, [&] {
            if (auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                offered = chooser->directory().absolutePath();
                chooser->reject();
            }
        });
        entry->trigger();
        EXPECT_EQ(offered.toStdString(), app_->dataFolder) << entry->text().toStdString();
    }

    w->OpenMonitor();
    LinkMonitorWindow* monitor = w->monitorWindow();
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->windowTitle(), "Link Monitor");
    EXPECT_TRUE(waitFor([&] {
        monitor->Refresh();
        return monitor->table()->model()->rowCount() > 0;
    }));
    monitor->move(monitor->pos() + QPoint(40, 30));
    const QPoint place = monitor->pos();
    monitor->close();
    w->OpenMonitor();
    EXPECT_EQ(w->monitorWindow(), monitor);
    EXPECT_EQ(monitor->pos(), place);
    close(master);
}

// Scrolled away from the newest row the view holds its place; at the top it follows the new rows. Pause
// says Resume while paused. Keys drive while the main window or the monitor is active, not a dialog.
TEST_F(LinkMonitorTest, TheMonitorHoldsItsPlaceAndKeysDriveWhileItIsActive) {
    auto w = Open();
    w->show();
    w->OpenMonitor();
    LinkMonitorWindow* monitor = w->monitorWindow();
    // It opens no larger than the screen it is on.
    const QRect screen = monitor->screen()->availableGeometry();
    EXPECT_LE(monitor->width(), screen.width());
    EXPECT_LE(monitor->height(), screen.height());
    MonitorModel& model = w->session().traffic().monitor();
    std::int64_t at = 0;
    const auto add = [&](int rows) {
        for (int i = 0; i < rows; ++i) model.OnSent(SentMessage{{}, at += 1000, -1});
        monitor->Refresh();
    };
    const auto top = [&] { return monitor->table()->indexAt(QPoint(1, 1)).data().toString().toStdString(); };
    add(200);
    const std::string newest = top();
    monitor->table()->verticalScrollBar()->setValue(20);
    const std::string held = top();
    add(5);
    EXPECT_EQ(top(), held);
    monitor->table()->verticalScrollBar()->setValue(0);
    add(5);
    EXPECT_NE(top(), newest);
    EXPECT_EQ(monitor->table()->indexAt(QPoint(1, 1)).row(), 0);

    const QString pause = monitor->pauseButton()->text();
    monitor->pauseButton()->click();
    EXPECT_NE(monitor->pauseButton()->text(), pause);
    EXPECT_TRUE(model.paused());
    monitor->pauseButton()->click();
    EXPECT_EQ(monitor->pauseButton()->text(), pause);

    QDialog dialog(w.get());
    dialog.show();
    for (auto [active, drives] :
         {std::pair<QWidget*, bool>{w.get(), true}, {monitor, true}, {&dialog, false}}) {
        QApplication::setActiveWindow(active);
        for (int i = 0; i < 3; ++i) w->ControllerTick();  // lost, acquired again, read
        EXPECT_EQ(w->session().state().keyboardReadable, drives) << active->metaObject()->className();
    }
}

}  // namespace
}  // namespace zanth
