// The remote-control window and the main window's mark, over the real server on a free loopback port, with
// a WebSocket client of the test's own.
#include "panel/remote_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QWebSocket>
#include <algorithm>
#include <chrono>
#include <fstream>

#include "control/devices_factory.h"
#include "panel/link_monitor.h"
#include "panel/main_window.h"
#include "panel/plain_text.h"
#include "panel/qr_code.h"

namespace zanth {
namespace {

bool WaitFor(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < end)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// A readable code needs its quiet zone: four white modules all round, then the finder pattern's dark corner.
TEST(QrImageTest, CodeWithQuietZoneOrNoneForNoText) {
    constexpr int kModule = 3;
    const QImage image = QrImage("http://192.168.1.20:8765/#token=0123456789abcdef0123456789abcdef", kModule);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), image.height());
    for (int i = 0; i < image.width(); i += kModule) {
        for (const QPoint p :
             {QPoint(i, 0), QPoint(0, i), QPoint(i, 4 * kModule - 1), QPoint(4 * kModule - 1, i)})
            ASSERT_EQ(image.pixelColor(p), QColor(Qt::white)) << p.x() << "," << p.y();
    }
    EXPECT_EQ(image.pixelColor(4 * kModule, 4 * kModule), QColor(Qt::black));
    EXPECT_TRUE(QrImage("", kModule).isNull());
}

class RemoteWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        // A port free a moment ago, so that the test never meets another server.
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        std::ofstream(dir_.filePath("Zanth-Emulator.ini").toStdString()) << "[REMOTE]\nPORT=" << port << "\n";
        app_ = std::make_unique<AppContext>(StartupInfo{"English", false, dir_.path().toStdString(), {}, {}});
        window_ = std::make_unique<MainWindow>(*app_, MakeSession(*app_, LoadSettings(app_->configPath)));
        window_->setMessageBoxesEnabled(false);
        window_->OpenRemote();
        remote_ = window_->remoteWindow();
    }

    QTemporaryDir dir_;
    std::unique_ptr<AppContext> app_;
    std::unique_ptr<MainWindow> window_;
    RemoteWindow* remote_ = nullptr;
};

// On: the page's address with the token, no code until LAN mode; a client that says hello is listed and
// marked in the main window until it goes; off: no address.
TEST_F(RemoteWindowTest, OnLanClientsAndOff) {
    ASSERT_TRUE(window_->remoteMark()->isHidden());
    remote_->onCheck()->click();
    const RemoteStatus on = window_->session().remoteStatus();
    ASSERT_TRUE(on.running) << on.reason.toStdString();
    EXPECT_TRUE(remote_->addressLabel()->text().contains("#token=" + on.token));
    EXPECT_FALSE(remote_->qrLabel()->isVisible());

    remote_->lanCheck()->click();
    ASSERT_TRUE(window_->session().remoteStatus().lan);
    EXPECT_TRUE(remote_->qrLabel()->isVisible());
    EXPECT_FALSE(remote_->qrLabel()->pixmap().isNull());

    const RemoteStatus lan = window_->session().remoteStatus();
    QWebSocket client;
    client.open(QUrl(QString("ws://127.0.0.1:%1/ws").arg(lan.port)));
    ASSERT_TRUE(WaitFor([&] { return client.state() == QAbstractSocket::ConnectedState; }));
    client.sendTextMessage(
        QJsonDocument(
            QJsonObject{{"v", 1}, {"type", "hello"}, {"name", "Pupil's phone"}, {"token", lan.token}})
            .toJson(QJsonDocument::Compact));
    ASSERT_TRUE(WaitFor([&] { return !window_->remoteMark()->isHidden(); }));
    EXPECT_EQ(window_->remoteMark()->text(), "Remote: 1");
    ASSERT_TRUE(WaitFor([&] { return remote_->clientTable()->rowCount() == 1; }));
    EXPECT_EQ(remote_->clientTable()->item(0, 0)->text(), "Pupil's phone");
    EXPECT_TRUE(remote_->stopAllButton()->isEnabled());

    client.close();
    EXPECT_TRUE(WaitFor([&] { return window_->remoteMark()->isHidden(); }));
    remote_->onCheck()->click();
    EXPECT_FALSE(window_->session().remoteStatus().running);
    EXPECT_FALSE(remote_->addressLabel()->isVisible());

    // While off, LAN mode is chosen for the next start, and stays as chosen.
    remote_->lanCheck()->click();
    EXPECT_FALSE(remote_->lanCheck()->isChecked());
    remote_->onCheck()->click();
    ASSERT_TRUE(window_->session().remoteStatus().running);
    EXPECT_FALSE(window_->session().remoteStatus().lan);
}

// A FIFO in the place of the server's file (anyone who may write the folder can put one there) neither holds
// the window nor goes unsaid: the server runs and the window tells why scripts cannot find it.
TEST_F(RemoteWindowTest, AServerFileThatCannotBeWrittenIsShownAndNeverWaitedOn) {
    const QByteArray fifo = QFile::encodeName(dir_.filePath("remote.json"));
    ASSERT_EQ(mkfifo(fifo.constData(), 0666), 0);
    // The key's file too: the key then lasts for this run, and the window says why.
    ASSERT_EQ(mkfifo(QFile::encodeName(dir_.filePath("remote.key")).constData(), 0666), 0);
    remote_->onCheck()->click();
    ASSERT_TRUE(window_->session().remoteStatus().running);
    for (const char* file : {"remote.json", "remote.key"})
        EXPECT_TRUE(remote_->statusLabel()->text().contains(dir_.filePath(file)))
            << remote_->statusLabel()->text().toStdString();
    EXPECT_EQ(remote_->statusLabel()->textFormat(), Qt::PlainText);
    remote_->onCheck()->click();
    struct stat st {};
    EXPECT_EQ(lstat(fifo.constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A client names itself in markup: every window shows the name as it is, and no label of theirs guesses
// rich text (which would load an image named in it, a device or a pipe, on the GUI thread).
TEST_F(RemoteWindowTest, OutsideTextsShowAsPlainText) {
    const QString name = "<b>big</b><img src=zanth-no-such-image.png>";
    for (const QString& text : {QString("plain"), name, QString("a & b\n<i>")}) {
        QTextDocument shown;
        shown.setHtml(PlainTip(text));
        EXPECT_EQ(Qt::mightBeRichText(PlainTip(text)) ? shown.toPlainText() : PlainTip(text), text);
    }

    remote_->onCheck()->click();
    const RemoteStatus on = window_->session().remoteStatus();
    ASSERT_TRUE(on.running) << on.reason.toStdString();
    QWebSocket client;
    client.open(QUrl(QString("ws://127.0.0.1:%1/ws").arg(on.port)));
    ASSERT_TRUE(WaitFor([&] { return client.state() == QAbstractSocket::ConnectedState; }));
    client.sendTextMessage(
        QJsonDocument(QJsonObject{{"v", 1}, {"type", "hello"}, {"name", name}, {"token", on.token}})
            .toJson(QJsonDocument::Compact));
    window_->OpenMonitor();
    QList<QLabel*> labels = window_->findChildren<QLabel*>();
    labels += remote_->findChildren<QLabel*>();
    labels += window_->monitorWindow()->findChildren<QLabel*>();
    ASSERT_TRUE(WaitFor([&] {
        return std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->text().contains(name); });
    }));
    for (const QLabel* label : labels)
        EXPECT_NE(label->textFormat(), Qt::AutoText)
            << label->objectName().toStdString() << ": " << label->text().toStdString();
    client.close();
}

}  // namespace
}  // namespace zanth
