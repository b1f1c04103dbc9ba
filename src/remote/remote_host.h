#pragma once
// The server's side on its own thread: the listening sockets, the page, the WebSocket handshakes and the
// clients with their limits. Everything here runs on that thread; it meets the GUI thread only on the board.
#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocketServer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "remote/host_calls.h"
#include "remote/http_head.h"
#include "remote/page_files.h"
#include "remote/remote_board.h"
#include "remote/wire_budget.h"

class QTcpServer;
class QTcpSocket;
class QWebSocket;

namespace zanth {

class RemoteHost : public QObject {
    Q_OBJECT
  public:
    // `calls`: where the server's calls wait for this host's thread (the server's; it outlives the host).
    RemoteHost(std::shared_ptr<RemoteBoard> board, QByteArray hello, QString token, bool ask,
               HostCalls* calls);
    ~RemoteHost() override;

    // Listens on the loopback addresses (or every address with `lan`). On success `port` is the port
    // listened on and `hosts` the names a Host header may give; else `why` says what failed and `inUse`
    // whether another program holds the port.
    bool Listen(const RemoteOptions& options, quint16* port, QStringList* hosts, QString* why, bool* inUse);

    // The user's word, on this host's thread.
    void SetKey(const QString& key);  // every client is told its key is stale
    void Remove(quint64 id);
    void Answer(quint64 id, bool allow);
    void SetAsk(bool ask) { ask_ = ask; }
    void SetHello(const QByteArray& hello) { hello_ = hello; }
    void SetStopHook(std::function<void()> hook) { stopHook_ = std::move(hook); }

    // The server's waiting call, run here.
    Q_INVOKABLE void TakeCall();

  signals:
    void changed();
    void clientEvent(const zanth::RemoteEvent& event);
    void inputChanged();  // a client pressed, released or moved a stick
    void stopAsked(quint64 clientId, const QString& clientName);

  private:
    // Every TCP connection from its accept until its socket is gone.
    struct Wire {
        QPointer<QTcpSocket> alive;
        QString address;
        std::int64_t acceptedUs = 0;
        std::int64_t arrivalUs = 0;  // when its last bytes came, before they were read
        quint64 client = 0;          // once a WebSocket: its client's id; its bytes are counted from then
        bool headDone = false;       // its request head came whole
        bool greeted = false;
        bool answered = false;  // an HTTP request answered: it only waits to close
        bool closed = false;
        qint64 leftover = 0;  // bytes the WebSocket left unread the last time
        FrameCounter frames;
        WireBudget budget;
    };
    struct Client {
        quint64 id = 0;
        QPointer<QWebSocket> socket;  // null once deleted: its entry is erased only after that
        QTcpSocket* tcp = nullptr;
        QString address;
        QString name;
        bool greeted = false;
        bool waiting = false;  // gave the key; the user has not allowed it yet
        bool dropped = false;
        QStringList mine;  // what its last state said it holds
        int badMessages = 0;
        double allowance = RemoteServer::kMaxMessagesPerSecond;  // messages it may send now
        std::int64_t lastUs = 0;
    };

    void Accept(QTcpServer* server);
    void Arrived(QTcpSocket* socket);
    void Closed(QTcpSocket* socket);
    void Prune();
    int Waiting(const QString* address) const;  // connections that have not said hello, from `address`
    void EvictOldest(const QString& address);
    QTcpSocket* WireOf(const QWebSocket* socket);
    void Deadlines(std::int64_t now);
    void TellRefusals(std::int64_t now);
    void ReadHead(QTcpSocket* socket);
    void Upgrade(QTcpSocket* socket);
    void Serve(QTcpSocket* socket, const HttpHead& head);
    void Answer(QTcpSocket* socket, int status, const QByteArray& type, const QByteArray& body,
                bool withBody);
    void Send(QTcpSocket* socket, const QByteArray& response);
    void TakeWebSocket();
    void OnText(quint64 id, const QString& text);
    void OnBinary(quint64 id);
    void OnGone(quint64 id);
    void Greet(Client& c, const RemoteMessage& m);
    void Admit(Client& c);
    void AskStop(const Client& c);
    void Bad(Client& c, const QString& reason);
    bool Send(Client& c, const QByteArray& message);
    // `told`: the refusal the page shows, sent instead of an error.
    void Drop(Client& c, RemoteRefusal refusal, const QString& reason = {},
              std::optional<RemoteRefused> told = std::nullopt);
    void Refuse(const QString& address, RemoteRefusal refusal, const QString& detail = {});
    void Tick();
    void TellReleased();
    void Broadcast(std::int64_t now);
    int Greeted() const;
    int Places() const;  // greeted and waiting

    std::shared_ptr<RemoteBoard> board_;
    HostCalls* calls_;
    QByteArray hello_;
    QString token_;
    bool ask_ = false;
    quint16 port_ = 0;
    QStringList hosts_;
    std::vector<std::unique_ptr<QTcpServer>> listeners_;
    PageFiles pageFiles_;
    QWebSocketServer sockets_;
    std::map<QTcpSocket*, Wire> wires_;
    std::set<QTcpSocket*> reading_;  // HTTP requests whose head is not whole yet
    RefusalFold refusals_;
    std::map<quint64, Client> clients_;
    quint64 nextId_ = 1;
    QTimer timer_;
    quint64 feedVersion_ = 0;
    std::int64_t lastStateUs_ = 0;
    DrivePacer drive_;
    std::function<void()> stopHook_;
};

}  // namespace zanth
