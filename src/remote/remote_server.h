#pragma once
// The remote-control server: one port serves the page (HTTP) and the API (WebSocket at /ws). It runs on a
// thread of its own; the session reads what the clients hold from here when it builds a frame, and says
// here what the clients are told about the robot.
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "base/ui_text.h"
#include "remote/host_calls.h"
#include "remote/protocol.h"
#include "remote/remote_input.h"

class QThread;

namespace zanth {

struct RemoteOptions {
    RemoteOptions() = default;
    RemoteOptions(quint16 port_, bool lan_, QString key_ = {}, bool ask_ = false)
        : port(port_), lan(lan_), key(std::move(key_)), ask(ask_) {}
    quint16 port = 8765;  // 0: any free port (the tests)
    bool lan = false;     // every address of the machine, not only 127.0.0.1 and ::1
    QString key;          // the key a hello must give; empty: the one of the last start (new at the first)
    bool ask = false;     // a new client drives only once the user allowed it
};

struct RemoteClientView {
    quint64 id = 0;
    bool waiting = false;  // said hello with the key; the user has not allowed it yet
    QString name;
    QString address;
    QDateTime since;
    quint64 messages = 0;
};

struct RemoteStatus {
    bool running = false;
    QString reason;  // why it is not running after a failed start, in the UI language
    quint16 port = 0;
    bool lan = false;
    bool ask = false;
    QString token;         // the key: 32 hex digits, kept beside the settings file
    QStringList pageUrls;  // the page with the token in its fragment, by every address it is reached at
    QList<RemoteClientView> clients;  // clients that said hello, and those waiting to be allowed
    QString fileProblem;              // why the remote file could not be written, while running
};

// Why a client was turned away or dropped.
enum class RemoteRefusal {
    kHost,     // a Host that is not this server (a name rebound to this machine)
    kOrigin,   // a page of another origin
    kToken,    // a hello without the right token
    kNoHello,  // something else first, or nothing in time
    kTooManyClients,
    kBadRequest,  // not HTTP, a head too long, a WebSocket handshake that failed
    kFrameTooLarge,
    kFlood,        // over the message rate
    kSlowReader,   // the data it did not read grew past the limit
    kBadMessages,  // the third malformed message
    kDenied,       // the user denied or removed it
};
// Kept beside the list: tables by refusal are sized by it.
inline constexpr std::size_t kRemoteRefusalCount = static_cast<std::size_t>(RemoteRefusal::kDenied) + 1;
const char* RemoteRefusalText(RemoteRefusal refusal, Language language);

// What the Link Monitor logs.
struct RemoteEvent {
    enum class Kind { kArrived, kLeft, kRefused };
    Kind kind = Kind::kArrived;
    QString name;
    QString address;
    RemoteRefusal refusal = RemoteRefusal::kBadRequest;  // kRefused
};

class RemoteBoard;
class RemoteHost;

class RemoteServer : public QObject {
    Q_OBJECT
  public:
    static constexpr int kMaxClients = 8;  // clients that said hello; the others hold no place
    // Connections that have not said hello yet, in all and from one address (the oldest of which makes
    // room for a new one).
    static constexpr int kMaxWaiting = 32;
    static constexpr int kMaxWaitingPerAddress = 8;
    static constexpr int kMaxFrameBytes = 4096;
    static constexpr int kMaxMessagesPerSecond = 200;
    static constexpr qint64 kMaxUnsentBytes = 256 * 1024;
    static constexpr int kBadMessagesBeforeClose = 3;
    // A client silent this long holds nothing any more: with the sample 8 ms before a message and a message
    // every 125 ms, its press is off the wire within 600 ms of its last word.
    static constexpr int kSilenceMs = 440;
    // From the connection's accept: the request, the handshake and the hello.
    static constexpr int kHelloTimeoutMs = 1000;
    // A client silent this long has lost its network; it is closed and its place freed.
    static constexpr int kGoneMs = 10000;
    // The state goes out on change at most this often, and at least once a second.
    static constexpr int kStatePeriodMs = 100;

    explicit RemoteServer(QObject* parent = nullptr);
    ~RemoteServer() override;

    // Starts listening; `hello` is what every client is told after its own hello. False with the reason in
    // the UI language when the port cannot be had.
    bool Start(const RemoteOptions& options, const QByteArray& hello, Language language, QString* reason);
    void Stop();
    bool running() const { return host_ != nullptr; }
    RemoteStatus status() const;
    int clientCount() const;  // clients that said hello

    // What the clients that spoke within kSilenceMs hold now. Any thread.
    RemoteInput Input() const;
    // Items some client pressed since the last call, each once, whether still held or already let go.
    // Stop all, Disconnect and closing forget them with the holds. Any thread.
    RemoteItems TakePresses();
    // Every client's input let go at once (Stop all, Disconnect, close); they may press again afterwards,
    // and are told why.
    void ReleaseAll(RemoteRelease why = RemoteRelease::kStopAll);
    // A new key: every client is told its key is stale and closed.
    void SetKey(const QString& key);
    // One client is told it was denied and closed.
    void RemoveClient(quint64 id);
    // A client waiting to be allowed drives from now on, or is told it was denied.
    void AnswerClient(quint64 id, bool allow);
    void SetAsk(bool ask);
    // What clients that say hello from now on are told first.
    void SetHello(const QByteArray& hello);
    // What the clients are told next.
    void Publish(const RemoteFeed& feed);
    // Whether the robot is stopped or disabled, and the match: told every client on change and with its
    // hello, kept over a restart of the server. GUI thread.
    void SetDriveState(const RemoteDriveState& drive);
    // Run on the server's own thread the moment a client's stop is read, before stopAsked reaches the
    // session's thread: the session halts the link there, so that the stop reaches the robot even while its
    // own thread is busy. Kept over a restart of the server.
    void SetStopHook(std::function<void()> hook);
    // Why the file that tells scripts where the server is could not be written; empty when it was.
    void SetFileProblem(const QString& why) { started_.fileProblem = why; }

  signals:
    void changed();  // clients came or went, the server started or stopped
    void clientEvent(const zanth::RemoteEvent& event);
    void inputChanged();  // a client pressed, released or moved a stick
    // A client allowed to drive asked to stop the robot (each time it asks). Only the main window releases a
    // stop: no client can.
    void stopAsked(quint64 clientId, const QString& clientName);

  private:
    void EndHost(RemoteHost* host);
    void OnHost(const std::function<void(RemoteHost&)>& job);

    std::shared_ptr<RemoteBoard> board_;
    QThread* thread_ = nullptr;
    RemoteHost* host_ = nullptr;
    HostCalls calls_;
    RemoteStatus started_;
    RemoteDriveState drive_;
    std::function<void()> stopHook_;
    QString key_;  // kept over a restart of the server when no key is given
};

// A monotonic clock in microseconds, shared by the stick votes of every source.
std::int64_t RemoteNowUs();

}  // namespace zanth

Q_DECLARE_METATYPE(zanth::RemoteEvent)
