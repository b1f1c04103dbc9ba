#include "remote/remote_server.h"

#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QThread>
#include <chrono>
#include <mutex>

#include "base/ui_text.h"
#include "remote/log.h"
#include "remote/remote_host.h"
#include "remote/remote_key.h"

// The page and the artwork are compiled into this static library; its resources are registered when asked
// for, outside any namespace.
static void RegisterRemoteResources() {
    static std::once_flag once;
    std::call_once(once, [] {
        Q_INIT_RESOURCE(artwork);
        Q_INIT_RESOURCE(remote);
    });
}

namespace zanth {
namespace {

QStringList PageUrls(quint16 port, bool lan, const QString& token) {
    QStringList urls;
    const QString tail = QStringLiteral(":%1/#token=%2").arg(port).arg(token);
    if (lan) {
        for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
            if (!nic.flags().testFlag(QNetworkInterface::IsUp) ||
                nic.flags().testFlag(QNetworkInterface::IsLoopBack))
                continue;
            for (const QNetworkAddressEntry& e : nic.addressEntries())
                if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
                    urls.append(QStringLiteral("http://") + e.ip().toString() + tail);
        }
    }
    urls.append(QStringLiteral("http://127.0.0.1") + tail);
    return urls;
}

}  // namespace

std::int64_t RemoteNowUs() {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

const char* RemoteRefusalText(RemoteRefusal refusal, Language language) {
    return UiText(static_cast<Msg>(static_cast<int>(Msg::kRemoteRefusedHost) + static_cast<int>(refusal)),
                  language);
}

RemoteServer::RemoteServer(QObject* parent) : QObject(parent) {
    qRegisterMetaType<zanth::RemoteEvent>();
    RegisterRemoteResources();
}

RemoteServer::~RemoteServer() {
    Stop();
}

bool RemoteServer::Start(const RemoteOptions& options, const QByteArray& hello, Language language,
                         QString* reason) {
    Stop();
    board_ = std::make_shared<RemoteBoard>();
    board_->SetDrive(drive_);
    if (!options.key.isEmpty()) key_ = options.key;
    if (key_.isEmpty()) key_ = NewRemoteKey();
    const QString token = key_;
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("remote"));
    auto* host = new RemoteHost(board_, hello, token, options.ask, &calls_);
    host->moveToThread(thread_);
    thread_->start();
    bool ok = false, inUse = false;
    quint16 port = 0;
    QStringList hosts;
    QString why;
    // Binding takes a moment and tells at once whether the port can be had.
    calls_.Run(host, [&] {
        host->SetStopHook(stopHook_);
        ok = host->Listen(options, &port, &hosts, &why, &inUse);
    });
    if (!ok) {
        EndHost(host);
        started_.reason =
            inUse ? QString::fromUtf8(UiText(Msg::kRemotePortInUse, language)).arg(options.port)
                  : QString::fromUtf8(UiText(Msg::kRemoteCannotListen, language)).arg(options.port).arg(why);
        if (reason) *reason = started_.reason;
        qCWarning(lcRemote).noquote() << "remote control not started:" << why;
        return false;
    }
    host_ = host;
    connect(host_, &RemoteHost::changed, this, &RemoteServer::changed);
    connect(host_, &RemoteHost::clientEvent, this, &RemoteServer::clientEvent);
    connect(host_, &RemoteHost::inputChanged, this, &RemoteServer::inputChanged);
    connect(host_, &RemoteHost::stopAsked, this, &RemoteServer::stopAsked);
    started_ = {};
    started_.running = true;
    started_.port = port;
    started_.lan = options.lan;
    started_.ask = options.ask;
    started_.token = token;
    started_.pageUrls = PageUrls(port, options.lan, token);
    qCInfo(lcRemote).noquote() << "remote control on port" << port
                               << (options.lan ? "(LAN)" : "(this machine only)");
    emit changed();
    return true;
}

// The clients go with the host, on its thread; their holds leave the board with them.
void RemoteServer::EndHost(RemoteHost* host) {
    calls_.Run(host, [host] { delete host; });
    thread_->quit();
    thread_->wait();
    delete thread_;
    thread_ = nullptr;
    board_.reset();
    started_ = {};
}

void RemoteServer::Stop() {
    if (!host_) return;
    RemoteHost* host = host_;
    host_ = nullptr;
    EndHost(host);
    qCInfo(lcRemote) << "remote control stopped";
    emit changed();
}

RemoteStatus RemoteServer::status() const {
    RemoteStatus s = started_;
    if (board_) s.clients = board_->Views();
    return s;
}

int RemoteServer::clientCount() const {
    return board_ ? board_->Greeted() : 0;
}

RemoteInput RemoteServer::Input() const {
    return board_ ? board_->Input(RemoteNowUs()) : RemoteInput{};
}

RemoteItems RemoteServer::TakePresses() {
    return board_ ? board_->TakePresses() : RemoteItems{};
}

void RemoteServer::ReleaseAll(RemoteRelease why) {
    if (board_) board_->ReleaseAll(why);
}

// Waited for, so that what the window shows next is already so.
void RemoteServer::OnHost(const std::function<void(RemoteHost&)>& job) {
    if (!host_) return;
    RemoteHost* host = host_;
    calls_.Run(host, [host, &job] { job(*host); });
}

void RemoteServer::SetKey(const QString& key) {
    key_ = key;
    if (!host_) return;
    started_.token = key;
    started_.pageUrls = PageUrls(started_.port, started_.lan, key);
    OnHost([&key](RemoteHost& h) { h.SetKey(key); });
    emit changed();
}

void RemoteServer::RemoveClient(quint64 id) {
    OnHost([id](RemoteHost& h) { h.Remove(id); });
}

void RemoteServer::AnswerClient(quint64 id, bool allow) {
    OnHost([id, allow](RemoteHost& h) { h.Answer(id, allow); });
}

void RemoteServer::SetAsk(bool ask) {
    started_.ask = ask;
    OnHost([ask](RemoteHost& h) { h.SetAsk(ask); });
}

void RemoteServer::SetHello(const QByteArray& hello) {
    OnHost([&hello](RemoteHost& h) { h.SetHello(hello); });
}

void RemoteServer::Publish(const RemoteFeed& feed) {
    if (board_) board_->SetFeed(feed);
}

void RemoteServer::SetStopHook(std::function<void()> hook) {
    stopHook_ = std::move(hook);
    OnHost([this](RemoteHost& h) { h.SetStopHook(stopHook_); });
}

void RemoteServer::SetDriveState(const RemoteDriveState& drive) {
    drive_ = drive;
    if (board_) board_->SetDrive(drive);
}

}  // namespace zanth
