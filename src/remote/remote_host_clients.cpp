// The host's clients: what they say (each message weighed against the client's allowance, read, and taken
// or refused), and the clients as the user sees them: the key checked, a place found, the user asked, and
// what the user decides later (a new key, Remove, Allow or Deny).
#include <QWebSocket>
#include <algorithm>
#include <map>
#include <vector>

#include "remote/log.h"
#include "remote/remote_host.h"

namespace zanth {

void RemoteHost::OnText(quint64 id, const QString& text) {
    auto it = clients_.find(id);
    if (it == clients_.end() || it->second.dropped) return;
    Client& c = it->second;
    // Heard when its bytes came, not when they were read: a backlog never stretches the silence.
    const auto w = wires_.find(c.tcp);
    const std::int64_t now = w != wires_.end() ? w->second.arrivalUs : RemoteNowUs();
    c.allowance =
        std::min<double>(RemoteServer::kMaxMessagesPerSecond,
                         c.allowance + static_cast<double>(std::max<std::int64_t>(now - c.lastUs, 0)) * 1e-6 *
                                           RemoteServer::kMaxMessagesPerSecond);
    c.lastUs = std::max(c.lastUs, now);
    if (c.allowance < 1.0) return Drop(c, RemoteRefusal::kFlood, QStringLiteral("too many messages"));
    c.allowance -= 1.0;
    QString error;
    bool otherVersion = false;
    const std::optional<RemoteMessage> m = ParseRemoteMessage(text.toUtf8(), &error, &otherVersion);
    if (c.waiting) {
        // Nothing it says counts before the user allowed it; a ping is still answered.
        if (m && m->type == RemoteMessageType::kPing) Send(c, BuildRemotePong());
        return;
    }
    if (!c.greeted) {
        if (otherVersion) return Drop(c, RemoteRefusal::kNoHello, error, RemoteRefused::kVersion);
        if (!m || m->type != RemoteMessageType::kHello)
            return Drop(c, RemoteRefusal::kNoHello, m ? QStringLiteral("say hello first") : error);
        return Greet(c, *m);
    }
    if (!m) return Bad(c, error);
    if (m->type == RemoteMessageType::kHello) return Bad(c, QStringLiteral("hello was said already"));
    board_->Heard(id, *m, now);
    if (m->type == RemoteMessageType::kPing)
        Send(c, BuildRemotePong());
    else if (m->type == RemoteMessageType::kStop)
        AskStop(c);
    else
        emit inputChanged();
}

void RemoteHost::Bad(Client& c, const QString& reason) {
    if (++c.badMessages >= RemoteServer::kBadMessagesBeforeClose)
        return Drop(c, RemoteRefusal::kBadMessages, reason);
    Send(c, BuildRemoteError(reason));
}

void RemoteHost::OnBinary(quint64 id) {
    auto it = clients_.find(id);
    if (it == clients_.end() || it->second.dropped) return;
    if (!it->second.greeted)
        return Drop(it->second, RemoteRefusal::kNoHello, QStringLiteral("text frames only"));
    Bad(it->second, QStringLiteral("text frames only"));
}

void RemoteHost::Greet(Client& c, const RemoteMessage& m) {
    // Compared in full whatever differs first, so the time taken tells nothing about the token.
    const QByteArray given = m.token.toLatin1();
    const QByteArray wanted = token_.toLatin1();
    unsigned diff = given.size() == wanted.size() ? 0u : 1u;
    for (qsizetype i = 0; i < wanted.size(); ++i)
        diff |= static_cast<unsigned>(wanted[i] ^ (i < given.size() ? given[i] : 0));
    if (diff != 0)
        return Drop(c, RemoteRefusal::kToken, QStringLiteral("wrong token"), RemoteRefused::kToken);
    if (Places() >= RemoteServer::kMaxClients)
        return Drop(c, RemoteRefusal::kTooManyClients, QStringLiteral("too many clients"),
                    RemoteRefused::kFull);
    if (auto w = wires_.find(c.tcp); w != wires_.end()) {
        w->second.greeted = true;
        w->second.budget.Greeted(RemoteNowUs());
    }
    c.name = m.name.isEmpty() ? c.address : m.name;
    if (!ask_) return Admit(c);
    c.waiting = true;
    board_->Wait(c.id, c.name);
    qCInfo(lcRemote).noquote() << "client waits to be allowed:" << Printable(c.name) << c.address;
    Send(c, BuildRemoteWaiting());
    emit changed();
}

void RemoteHost::Admit(Client& c) {
    c.waiting = false;
    c.greeted = true;
    // The wait for the user is no silence of its own.
    if (auto w = wires_.find(c.tcp); w != wires_.end()) w->second.arrivalUs = RemoteNowUs();
    board_->Greet(c.id, c.name);
    RemoteMessage hello;
    hello.type = RemoteMessageType::kHello;
    board_->Heard(c.id, hello, RemoteNowUs());
    qCInfo(lcRemote).noquote() << "client arrived:" << Printable(c.name) << c.address;
    emit clientEvent({RemoteEvent::Kind::kArrived, c.name, c.address, RemoteRefusal::kBadRequest});
    emit changed();
    const RemoteDriveState drive = drive_.Next(board_->Drive(), RemoteNowUs());
    if (Send(c, WithRemoteDrive(hello_, drive))) {
        quint64 version = 0;
        Send(c, BuildRemoteState(board_->Feed(&version), Greeted(), {}, drive));
    }
}

// Every ask counts: the session decides what a stop of a stopped robot does.
void RemoteHost::AskStop(const Client& c) {
    if (stopHook_) stopHook_();
    qCInfo(lcRemote).noquote() << "client asked to stop the robot:" << Printable(c.name) << c.address;
    emit stopAsked(c.id, c.name);
}

void RemoteHost::SetKey(const QString& key) {
    token_ = key;
    std::vector<quint64> ids;
    for (const auto& [id, c] : clients_)
        if (!c.dropped) ids.push_back(id);
    for (quint64 id : ids)
        if (auto it = clients_.find(id); it != clients_.end())
            Drop(it->second, RemoteRefusal::kToken, QStringLiteral("new key"), RemoteRefused::kToken);
}

void RemoteHost::Remove(quint64 id) {
    const auto it = clients_.find(id);
    if (it == clients_.end() || (!it->second.greeted && !it->second.waiting)) return;
    Drop(it->second, RemoteRefusal::kDenied, QStringLiteral("removed"), RemoteRefused::kDenied);
}

void RemoteHost::Answer(quint64 id, bool allow) {
    auto it = clients_.find(id);
    if (it == clients_.end() || !it->second.waiting || it->second.dropped) return;
    Client& c = it->second;
    if (!allow) return Drop(c, RemoteRefusal::kDenied, QStringLiteral("denied"), RemoteRefused::kDenied);
    Admit(c);
}

// Before the state that shows the holds gone, so that the page knows why they went.
void RemoteHost::TellReleased() {
    for (const auto& [id, why] : board_->TakeReleased()) {
        auto it = clients_.find(id);
        if (it != clients_.end() && it->second.greeted) Send(it->second, BuildRemoteReleased(why));
    }
}

// Each client hears what it holds itself; a change of that goes out as soon as a change of the feed may.
void RemoteHost::Broadcast(std::int64_t now) {
    quint64 version = 0;
    const RemoteFeed feed = board_->Feed(&version);
    std::map<quint64, QStringList> mine = board_->Mine(now);
    const RemoteDriveState drive = drive_.Next(board_->Drive(), now);
    bool moved = version != feedVersion_ || drive != drive_.told();
    for (const auto& [id, c] : clients_)
        if (c.greeted && !c.dropped && mine[id] != c.mine) moved = true;
    const std::int64_t since = now - lastStateUs_;
    const bool due = (moved && since >= RemoteServer::kStatePeriodMs * 1000) || since >= 1'000'000;
    if (!due) return;
    feedVersion_ = version;
    lastStateUs_ = now;
    drive_.Told(drive, now);
    const int greeted = Greeted();
    for (auto& [id, c] : clients_) {
        if (!c.greeted || c.dropped) continue;
        c.mine = mine[id];
        Send(c, BuildRemoteState(feed, greeted, c.mine, drive));
    }
}

}  // namespace zanth
