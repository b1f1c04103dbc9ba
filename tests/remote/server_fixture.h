#pragma once
// The server under its clients: real sockets on the loopback addresses, the server on its own thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QWebSocket>
#include <chrono>
#include <functional>
#include <memory>

#include "model/controller_model.h"
#include "remote/remote_server.h"

namespace zanth {

using namespace std::chrono_literals;

inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// A client as a script or a page would be, with what it heard.
struct Client {
    explicit Client(const QString& origin = {}) : socket(origin) {
        QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& t) {
            heard.append(QJsonDocument::fromJson(t.toUtf8()).object());
        });
        QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
    }
    void Open(quint16 port) { socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port))); }
    bool Connected() {
        return WaitFor([&] { return socket.state() == QAbstractSocket::ConnectedState || closed; }) &&
               !closed;
    }
    void Say(const char* json) { socket.sendTextMessage(QString::fromUtf8(json)); }
    void Hello(const QString& token) {
        socket.sendTextMessage(
            QStringLiteral(R"({"v":1,"type":"hello","name":"t","token":"%1"})").arg(token));
    }
    bool Heard(const char* type) {
        return WaitFor([&] {
            for (const QJsonObject& o : heard)
                if (o.value("type").toString() == QLatin1String(type)) return true;
            return false;
        });
    }
    QWebSocket socket;
    QList<QJsonObject> heard;
    bool closed = false;
};

// A WebSocket frame as a client sends it, masked with a zero mask so the payload stays as it is.
inline QByteArray Frame(int opcode, const QByteArray& payload, bool fin = true) {
    return QByteArray(1, static_cast<char>((fin ? 0x80 : 0) | opcode)) +
           QByteArray(1, static_cast<char>(0x80 | payload.size())) + QByteArray(4, '\0') + payload;
}

// A client on a bare TCP socket: it says what it likes on the wire, and reads no more than it must.
struct RawClient {
    explicit RawClient(quint16 port, bool reads = true) {
        if (!reads) socket.setReadBufferSize(16);  // the server's data piles up
        socket.connectToHost(QHostAddress::LocalHost, port);
        connected = socket.waitForConnected(5000);
        QObject::connect(&socket, &QTcpSocket::disconnected, [this] { closed = true; });
    }
    bool Upgrade(quint16 port) {
        socket.write("GET /ws HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                     "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                     "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n");
        return WaitFor([&] { return socket.bytesAvailable() > 0; });  // the 101
    }
    void Hello(const QString& token) {
        socket.write(Frame(1, QStringLiteral(R"({"v":1,"type":"hello","token":"%1"})").arg(token).toUtf8()));
    }
    QTcpSocket socket;
    bool connected = false;
    bool closed = false;
};

class RemoteServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        QObject::connect(&server_, &RemoteServer::clientEvent, [this](const RemoteEvent& e) {
            if (e.kind == RemoteEvent::Kind::kRefused) refusals_.append(e.refusal);
        });
        ASSERT_TRUE(server_.Start(options_, BuildRemoteHello(model_, "1"), Language::kEnglish, nullptr));
        port_ = server_.status().port;
        token_ = server_.status().token;
    }
    // A client that said hello and was greeted.
    std::unique_ptr<Client> Greeted() {
        auto c = std::make_unique<Client>();
        c->Open(port_);
        EXPECT_TRUE(c->Connected());
        c->Hello(token_);
        EXPECT_TRUE(c->Heard("hello"));
        return c;
    }
    bool Refused(RemoteRefusal r) {
        return WaitFor([&] { return refusals_.contains(r); });
    }
    bool Holds(int item) { return server_.Input().items.test(static_cast<std::size_t>(item)); }
    // The answer's status line to a raw request.
    QByteArray Get(const QByteArray& path, const QByteArray& host) {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port_);
        if (!s.waitForConnected(5000)) return {};
        s.write("GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n");
        WaitFor([&] { return s.canReadLine(); });
        return s.readLine().trimmed();
    }
    QByteArray Here() const { return "127.0.0.1:" + QByteArray::number(port_); }

  public:
    // The last of what a client heard of `type`.
    static QJsonObject Last(const Client& c, const char* type) {
        for (auto it = c.heard.rbegin(); it != c.heard.rend(); ++it)
            if (it->value("type").toString() == QLatin1String(type)) return *it;
        return {};
    }

  protected:
    RemoteOptions options_{0, false};
    ControllerModel model_;
    RemoteServer server_;
    quint16 port_ = 0;
    QString token_;
    QList<RemoteRefusal> refusals_;
};

}  // namespace zanth
