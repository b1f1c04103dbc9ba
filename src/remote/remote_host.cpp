#include "remote/remote_host.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>
#include <tuple>
#include <utility>

#include "remote/log.h"

namespace zanth {
namespace {

constexpr int kTickMs = 50;
constexpr std::int64_t kHelloUs = std::int64_t{RemoteServer::kHelloTimeoutMs} * 1000;
constexpr std::int64_t kAnswerUs = 5'000'000;  // an answered request that is not read

QString AddressOf(QHostAddress a) {
    bool v4 = false;
    const quint32 ip4 = a.toIPv4Address(&v4);
    if (v4) a = QHostAddress(ip4);
    return a.toString();
}
QString AddressOf(const QAbstractSocket* socket) {
    return AddressOf(socket->peerAddress());
}
QString AddressOf(const QWebSocket* socket) {
    return AddressOf(socket->peerAddress());
}

// How long ago the kernel took the connection's last data: the thread may have been busy since.
std::int64_t DataAgeUs(const QTcpSocket* socket) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (getsockopt(static_cast<int>(socket->socketDescriptor()), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return 0;
    return std::int64_t{info.tcpi_last_data_recv} * 1000;
}

QString HostName(const QHostAddress& a) {
    if (a.protocol() == QAbstractSocket::IPv6Protocol) {
        QHostAddress bare = a;
        bare.setScopeId({});
        return QLatin1Char('[') + bare.toString().toLower() + QLatin1Char(']');
    }
    return a.toString();
}

}  // namespace

RemoteHost::RemoteHost(std::shared_ptr<RemoteBoard> board, QByteArray hello, QString token, bool ask,
                       HostCalls* calls)
    : board_(std::move(board)),
      calls_(calls),
      hello_(std::move(hello)),
      token_(std::move(token)),
      ask_(ask),
      // Children, so that they move to the server's thread with the host.
      sockets_(QStringLiteral("Zanth-Emulator"), QWebSocketServer::NonSecureMode, this),
      timer_(this) {
    sockets_.setHandshakeTimeout(RemoteServer::kHelloTimeoutMs);
    connect(&sockets_, &QWebSocketServer::newConnection, this, &RemoteHost::TakeWebSocket);
    connect(&timer_, &QTimer::timeout, this, &RemoteHost::Tick);
}

void RemoteHost::TakeCall() {
    calls_->Take();  // may delete this host
}

// A socket that is aborted or deleted says `disconnected` at once, and its handlers erase from these very
// lists: each list is taken whole first, and every socket is cut from this host before it goes.
RemoteHost::~RemoteHost() {
    timer_.stop();
    listeners_.clear();
    const auto clients = std::exchange(clients_, {});
    const auto reading = std::exchange(reading_, {});
    for (const auto& [socket, w] : std::exchange(wires_, {}))
        if (w.alive) socket->disconnect(this);
    for (const auto& [id, c] : clients) {
        board_->Remove(id);
        // A client that left has its socket deleted later and its entry erased later still: in between,
        // only the entry is left.
        if (!c.socket) continue;
        c.socket->disconnect(this);
        c.socket->abort();
        delete c.socket;
    }
    for (QTcpSocket* socket : reading) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

bool RemoteHost::Listen(const RemoteOptions& options, quint16* port, QStringList* hosts, QString* why,
                        bool* inUse) {
    const QList<QHostAddress> binds =
        options.lan ? QList<QHostAddress>{QHostAddress::Any}
                    : QList<QHostAddress>{QHostAddress::LocalHost, QHostAddress::LocalHostIPv6};
    port_ = options.port;
    for (const QHostAddress& bind : binds) {
        auto server = std::make_unique<QTcpServer>();
        if (!server->listen(bind, port_)) {
            // A machine without IPv6 still serves 127.0.0.1; a port taken is a failure whichever it is.
            if (bind == QHostAddress::LocalHostIPv6 &&
                server->serverError() != QAbstractSocket::AddressInUseError)
                continue;
            *why = server->errorString();
            *inUse = server->serverError() == QAbstractSocket::AddressInUseError;
            listeners_.clear();
            return false;
        }
        port_ = server->serverPort();
        QTcpServer* raw = server.get();
        connect(raw, &QTcpServer::newConnection, this, [this, raw] { Accept(raw); });
        listeners_.push_back(std::move(server));
    }
    hosts_ = {QStringLiteral("localhost"), QStringLiteral("127.0.0.1"), QStringLiteral("[::1]")};
    if (options.lan) {
        for (const QHostAddress& a : QNetworkInterface::allAddresses())
            if (!hosts_.contains(HostName(a))) hosts_.append(HostName(a));
    }
    *port = port_;
    *hosts = hosts_;
    return true;
}

// ---- HTTP

void RemoteHost::Accept(QTcpServer* server) {
    Prune();
    // The timer runs only while there is something to watch: an idle server wakes nobody.
    if (!timer_.isActive()) timer_.start(kTickMs);
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        socket->setParent(this);
        const QString address = AddressOf(socket);
        if (Waiting(nullptr) >= RemoteServer::kMaxWaiting) {
            Refuse(address, RemoteRefusal::kTooManyClients, QStringLiteral("too many without hello"));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // A stranger holding connections open shuts out no one else from its address for long: the newest
        // comer takes the place of the oldest.
        if (Waiting(&address) >= RemoteServer::kMaxWaitingPerAddress) EvictOldest(address);
        Wire& w = wires_[socket];
        w.alive = socket;
        w.address = address;
        w.acceptedUs = w.arrivalUs = RemoteNowUs();
        reading_.insert(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { ReadHead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { Closed(socket); });
    }
}

void RemoteHost::Closed(QTcpSocket* socket) {
    if (auto it = wires_.find(socket); it != wires_.end()) it->second.closed = true;
    if (reading_.erase(socket) > 0) socket->deleteLater();
}

// The WebSocket cuts every connection of the socket it closes, so the gone are found by their pointers.
void RemoteHost::Prune() {
    std::erase_if(wires_, [](const auto& e) { return e.second.alive.isNull(); });
}

int RemoteHost::Waiting(const QString* address) const {
    return static_cast<int>(std::count_if(wires_.begin(), wires_.end(), [address](const auto& e) {
        const Wire& w = e.second;
        return w.alive && !w.greeted && !w.answered && !w.closed && (!address || w.address == *address);
    }));
}

// The one that has come least far, and of those the oldest: a client that means it sends its request and
// its hello at once, so an idle connection (a stranger's, or a browser's preconnect) goes first.
void RemoteHost::EvictOldest(const QString& address) {
    QTcpSocket* victim = nullptr;
    std::pair<int, std::int64_t> rank{};
    for (const auto& [socket, w] : wires_) {
        if (!w.alive || w.greeted || w.answered || w.closed || w.address != address) continue;
        const int progress = w.headDone ? 2 : socket->bytesAvailable() > 0 ? 1 : 0;
        const std::pair<int, std::int64_t> mine{progress, w.acceptedUs};
        if (!victim || mine < rank) std::tie(victim, rank) = std::pair{socket, mine};
    }
    if (!victim) return;
    Refuse(address, RemoteRefusal::kTooManyClients, QStringLiteral("too many without hello"));
    victim->abort();
}

// The first of a connection's readyRead handlers: the bytes are stamped and paid for before the WebSocket
// reads them, however long it then takes over them.
void RemoteHost::Arrived(QTcpSocket* socket) {
    auto it = wires_.find(socket);
    if (it == wires_.end() || it->second.client == 0) return;
    Wire& w = it->second;
    const std::int64_t now = RemoteNowUs();
    const qint64 available = socket->bytesAvailable();
    const QByteArray fresh = socket->peek(available).sliced(std::min(w.leftover, available));
    w.leftover = available;
    if (fresh.isEmpty()) return;
    w.arrivalUs = now - DataAgeUs(socket);
    if (w.budget.Spend(w.frames.Feed(fresh), fresh.size(), now)) return;
    auto c = clients_.find(w.client);
    if (c != clients_.end())
        Drop(c->second, RemoteRefusal::kFlood, QStringLiteral("too many frames or bytes"));
    socket->abort();
}

void RemoteHost::ReadHead(QTcpSocket* socket) {
    if (!reading_.contains(socket)) return;
    // Peeked, not read: a WebSocket handshake is read again by the WebSocket server.
    HttpHead head;
    const HeadParse parsed = ParseHttpHead(socket->peek(kHttpHeadLimit + 4), &head);
    if (parsed == HeadParse::kIncomplete) return;
    reading_.erase(socket);
    if (auto it = wires_.find(socket); it != wires_.end()) it->second.headDone = true;
    QObject::disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    if (parsed == HeadParse::kBad) {
        Refuse(AddressOf(socket), RemoteRefusal::kBadRequest);
        return Answer(socket, 400, "text/plain", "bad request\n", true);
    }
    const QByteArray host = head.Field("host");
    if (!HostAllowed(host, hosts_, port_)) {
        Refuse(AddressOf(socket), RemoteRefusal::kHost, QString::fromLatin1(host.left(100)));
        return Answer(socket, 403, "text/plain", "unknown host\n", true);
    }
    if (head.path == "/ws") {
        if (!OriginAllowed(head.Field("origin"), head.fields.contains("origin"), host)) {
            Refuse(AddressOf(socket), RemoteRefusal::kOrigin,
                   QString::fromLatin1(head.Field("origin").left(100)));
            return Answer(socket, 403, "text/plain", "foreign origin\n", true);
        }
        if (head.method != "GET" || head.Field("upgrade").toLower() != "websocket") {
            Refuse(AddressOf(socket), RemoteRefusal::kBadRequest);
            return Answer(socket, 400, "text/plain", "WebSocket only\n", true);
        }
        return Upgrade(socket);
    }
    Serve(socket, head);
}

void RemoteHost::Serve(QTcpSocket* socket, const HttpHead& head) {
    if (head.method != "GET" && head.method != "HEAD")
        return Answer(socket, 405, "text/plain", "GET only\n", true);
    const PageFile* file = pageFiles_.Get(ResourceFor(head.path));
    if (!file) {
        qCDebug(lcRemote).noquote() << "not found:" << Printable(QString::fromLatin1(head.path.left(100)));
        return Answer(socket, 404, "text/plain", "not found\n", head.method == "GET");
    }
    Send(socket, PageAnswer(*file, head));
}

void RemoteHost::Answer(QTcpSocket* socket, int status, const QByteArray& type, const QByteArray& body,
                        bool withBody) {
    Send(socket, HttpResponse(status, type, body, withBody));
}

void RemoteHost::Send(QTcpSocket* socket, const QByteArray& response) {
    if (auto it = wires_.find(socket); it != wires_.end()) it->second.answered = true;
    socket->write(response);
    socket->disconnectFromHost();
    // A peer that never reads is cut off once the answer's time is up rather than waited for.
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kAnswerUs / 1000, socket, [socket] { socket->abort(); });
}

// A WebSocket even when every place is taken: its hello is then refused in words the page can show.
// The connections that have not said hello are bounded per address and in all.
void RemoteHost::Upgrade(QTcpSocket* socket) {
    // Before the WebSocket's own handler, which is connected with the handshake.
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Arrived(socket); });
    sockets_.handleConnection(socket);
    // The head is still unread in the socket's buffer: the handshake must look at it now, not at the
    // next bytes, which will never come.
    QMetaObject::invokeMethod(socket, "readyRead", Qt::QueuedConnection);
}

// ---- WebSocket clients

// The TCP connection under a WebSocket, by its two ends.
QTcpSocket* RemoteHost::WireOf(const QWebSocket* socket) {
    for (auto& [tcp, w] : wires_)
        if (w.alive && w.client == 0 && tcp->peerPort() == socket->peerPort() &&
            tcp->peerAddress() == socket->peerAddress())
            return tcp;
    return nullptr;
}

void RemoteHost::TakeWebSocket() {
    while (QWebSocket* socket = sockets_.nextPendingConnection()) {
        socket->setParent(this);
        socket->setMaxAllowedIncomingFrameSize(RemoteServer::kMaxFrameBytes);
        socket->setMaxAllowedIncomingMessageSize(RemoteServer::kMaxFrameBytes);
        QTcpSocket* tcp = WireOf(socket);
        if (!tcp) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const quint64 id = nextId_++;
        Client& c = clients_[id];
        c.id = id;
        c.socket = socket;
        c.tcp = tcp;
        c.address = AddressOf(socket);
        c.lastUs = RemoteNowUs();
        board_->Add(id, c.address);
        Wire& w = wires_[tcp];
        w.client = id;
        // What came with the handshake is paid for now; what the WebSocket leaves unread after each
        // read is known from the handler below, connected after the WebSocket's own.
        Arrived(tcp);
        connect(tcp, &QTcpSocket::readyRead, this, [this, tcp] {
            if (auto it = wires_.find(tcp); it != wires_.end()) it->second.leftover = tcp->bytesAvailable();
        });
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, id](const QString& t) { OnText(id, t); });
        connect(socket, &QWebSocket::binaryMessageReceived, this, [this, id] { OnBinary(id); });
        connect(socket, &QWebSocket::disconnected, this, [this, id] { OnGone(id); });
    }
}

bool RemoteHost::Send(Client& c, const QByteArray& message) {
    if (c.dropped) return false;
    c.socket->sendTextMessage(QString::fromUtf8(message));
    if (c.socket->bytesToWrite() <= RemoteServer::kMaxUnsentBytes) return true;
    Drop(c, RemoteRefusal::kSlowReader);
    return false;
}

void RemoteHost::Drop(Client& c, RemoteRefusal refusal, const QString& reason,
                      std::optional<RemoteRefused> told) {
    if (c.dropped) return;
    c.dropped = true;
    board_->Remove(c.id);
    const bool listed = c.greeted || c.waiting;
    Refuse(c.address, refusal, listed ? c.name : QString());
    if (listed) emit changed();
    if (refusal == RemoteRefusal::kSlowReader) {
        c.socket->abort();
        return;
    }
    if (told)
        c.socket->sendTextMessage(QString::fromUtf8(BuildRemoteRefused(*told, RemoteServer::kMaxClients)));
    else if (!reason.isEmpty())
        c.socket->sendTextMessage(QString::fromUtf8(BuildRemoteError(reason)));
    c.socket->close(QWebSocketProtocol::CloseCodePolicyViolated, reason.left(100));
    // A peer that does not answer the close is cut off soon after.
    QPointer<QWebSocket> socket = c.socket;
    QTimer::singleShot(1000, this, [socket] {
        if (socket) socket->abort();
    });
}

void RemoteHost::OnGone(quint64 id) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    Client& c = it->second;
    if (!c.dropped) {
        c.dropped = true;
        board_->Remove(id);
        if (c.socket->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData) {
            Refuse(c.address, RemoteRefusal::kFrameTooLarge, c.name);
        } else if (c.greeted) {
            qCInfo(lcRemote).noquote() << "client left:" << Printable(c.name) << c.address;
            emit clientEvent({RemoteEvent::Kind::kLeft, c.name, c.address, RemoteRefusal::kBadRequest});
        }
        if (c.greeted || c.waiting) emit changed();
    }
    c.socket->deleteLater();
    // Erased later: this may run inside a loop over the clients.
    QMetaObject::invokeMethod(
        this, [this, id] { clients_.erase(id); }, Qt::QueuedConnection);
}

void RemoteHost::Refuse(const QString& address, RemoteRefusal refusal, const QString& detail) {
    const RefusalFold::Told told = refusals_.Count(refusal, RemoteNowUs());
    if (told.log) {
        QString line = QStringLiteral("refused %1 - %2")
                           .arg(address, QString::fromUtf8(RemoteRefusalText(refusal, Language::kEnglish)));
        if (!detail.isEmpty()) line += QStringLiteral(" (%1)").arg(Printable(detail));
        qCInfo(lcRemote).noquote() << line;
    }
    if (told.row) emit clientEvent({RemoteEvent::Kind::kRefused, detail, address, refusal});
}

void RemoteHost::TellRefusals(std::int64_t now) {
    for (const auto& [refusal, count] : refusals_.Due(now))
        qCInfo(lcRemote).noquote() << QStringLiteral("refused %1 more in the last second - %2")
                                          .arg(count)
                                          .arg(QString::fromUtf8(
                                              RemoteRefusalText(refusal, Language::kEnglish)));
}

int RemoteHost::Greeted() const {
    return static_cast<int>(std::count_if(clients_.begin(), clients_.end(), [](const auto& e) {
        return e.second.greeted && !e.second.dropped;
    }));
}

int RemoteHost::Places() const {
    return static_cast<int>(std::count_if(clients_.begin(), clients_.end(), [](const auto& e) {
        return (e.second.greeted || e.second.waiting) && !e.second.dropped;
    }));
}

// ---- The timer: silence, slow starts, the state

void RemoteHost::Tick() {
    const std::int64_t now = RemoteNowUs();
    if (board_->ReleaseSilent(now)) qCInfo(lcRemote) << "a silent client's input was released";
    Deadlines(now);
    TellRefusals(now);
    TellReleased();
    Broadcast(now);
    if (wires_.empty() && clients_.empty() && !refusals_.Untold()) timer_.stop();
}

// A connection has a second to say hello; a client silent for long has lost its network and its place.
void RemoteHost::Deadlines(std::int64_t now) {
    std::vector<QTcpSocket*> late;
    Prune();
    for (const auto& [socket, w] : wires_)
        if (!w.greeted && !w.answered && !w.closed && now - w.acceptedUs > kHelloUs) late.push_back(socket);
    for (QTcpSocket* socket : late) {
        Refuse(AddressOf(socket), RemoteRefusal::kNoHello, QStringLiteral("no hello in time"));
        socket->abort();
    }
    std::vector<QWebSocket*> gone;
    for (const auto& [id, c] : clients_) {
        const auto w = wires_.find(c.tcp);
        if (c.greeted && !c.dropped && w != wires_.end() &&
            now - w->second.arrivalUs > std::int64_t{RemoteServer::kGoneMs} * 1000) {
            qCInfo(lcRemote).noquote() << "client silent for" << RemoteServer::kGoneMs / 1000
                                       << "s, closed:" << Printable(c.name) << c.address;
            gone.push_back(c.socket);
        }
    }
    for (QWebSocket* socket : gone) socket->abort();
}

}  // namespace zanth
