#include "remote/remote_board.h"

#include <algorithm>
#include <utility>

namespace zanth {

bool RemoteBoard::Silent(const Client& c, std::int64_t now) const {
    return now - c.heardUs > std::int64_t{RemoteServer::kSilenceMs} * 1000;
}

void RemoteBoard::Add(quint64 id, const QString& address) {
    QMutexLocker lock(&mutex_);
    Client& c = clients_[id];
    c.view.address = address;
    c.heardUs = RemoteNowUs();
}

void RemoteBoard::Remove(quint64 id) {
    QMutexLocker lock(&mutex_);
    clients_.erase(id);
}

void RemoteBoard::Greet(quint64 id, const QString& name) {
    QMutexLocker lock(&mutex_);
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    it->second.greeted = true;
    it->second.view.waiting = false;
    it->second.view.name = name;
    it->second.view.since = QDateTime::currentDateTime();
}

void RemoteBoard::Wait(quint64 id, const QString& name) {
    QMutexLocker lock(&mutex_);
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    it->second.view.waiting = true;
    it->second.view.name = name;
    it->second.view.since = QDateTime::currentDateTime();
}

void RemoteBoard::Heard(quint64 id, const RemoteMessage& message, std::int64_t now) {
    QMutexLocker lock(&mutex_);
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    Client& c = it->second;
    // Its bytes may have come a while before they were read: silent by now, it has been let go on the wire
    // already, and its hold does not come back.
    const std::int64_t read = std::max(now, RemoteNowUs());
    if (Silent(c, read) && (c.hold.items.any() || c.hold.sticks != StickVotes{})) {
        // Read before the timer let go of it: the page still hears why its hold went.
        c.hold.Clear();
        if (c.greeted) c.released = RemoteRelease::kSilence;
    }
    c.heardUs = now;
    ++c.view.messages;
    const RemoteItems before = c.hold.items;
    ApplyRemoteMessage(c.hold, message, now);
    // A press let go again before the next sample must still reach one frame, unless it was read only after
    // its client had fallen silent: then it is as late for the robot as its hold.
    if (c.greeted && !Silent(c, read)) presses_ |= c.hold.items & ~before;
}

RemoteItems RemoteBoard::TakePresses() {
    QMutexLocker lock(&mutex_);
    return std::exchange(presses_, RemoteItems{});
}

bool RemoteBoard::ReleaseSilent(std::int64_t now) {
    QMutexLocker lock(&mutex_);
    bool any = false;
    for (auto& [id, c] : clients_) {
        if (!Silent(c, now)) continue;
        if (c.hold.items.none() && c.hold.sticks == StickVotes{}) continue;
        any = true;
        c.hold.Clear();
        if (c.greeted) c.released = RemoteRelease::kSilence;
    }
    return any;
}

RemoteInput RemoteBoard::Input(std::int64_t now) const {
    QMutexLocker lock(&mutex_);
    RemoteInput input;
    for (const auto& [id, c] : clients_)
        if (c.greeted && !Silent(c, now)) AddHold(input, c.hold);
    return input;
}

// Every greeted client is told, holding or not: a finger resting on its page must lift before it drives
// again.
void RemoteBoard::ReleaseAll(RemoteRelease why) {
    QMutexLocker lock(&mutex_);
    for (auto& [id, c] : clients_) {
        c.hold.Clear();
        if (c.greeted) c.released = why;
    }
    presses_.reset();
}

std::vector<std::pair<quint64, RemoteRelease>> RemoteBoard::TakeReleased() {
    QMutexLocker lock(&mutex_);
    std::vector<std::pair<quint64, RemoteRelease>> told;
    for (auto& [id, c] : clients_)
        if (c.released) told.emplace_back(id, *std::exchange(c.released, std::nullopt));
    return told;
}

std::map<quint64, QStringList> RemoteBoard::Mine(std::int64_t now) const {
    QMutexLocker lock(&mutex_);
    std::map<quint64, QStringList> mine;
    for (const auto& [id, c] : clients_) {
        if (!c.greeted) continue;
        QStringList& names = mine[id];
        if (Silent(c, now)) continue;
        for (int i = 0; i < kInputItemCount; ++i)
            if (c.hold.items.test(static_cast<std::size_t>(i)))
                names.append(
                    QString::fromUtf8(ItemIniKey(i).data(), static_cast<qsizetype>(ItemIniKey(i).size())));
    }
    return mine;
}

QList<RemoteClientView> RemoteBoard::Views() const {
    QMutexLocker lock(&mutex_);
    QList<RemoteClientView> views;
    for (const auto& [id, c] : clients_) {
        if (!c.greeted && !c.view.waiting) continue;
        views.append(c.view);
        views.back().id = id;
    }
    return views;
}

int RemoteBoard::Greeted() const {
    QMutexLocker lock(&mutex_);
    int n = 0;
    for (const auto& [id, c] : clients_) n += c.greeted ? 1 : 0;
    return n;
}

void RemoteBoard::SetFeed(const RemoteFeed& feed) {
    QMutexLocker lock(&mutex_);
    if (feed == feed_) return;
    feed_ = feed;
    ++feedVersion_;
}

RemoteFeed RemoteBoard::Feed(quint64* version) const {
    QMutexLocker lock(&mutex_);
    *version = feedVersion_;
    return feed_;
}

void RemoteBoard::SetDrive(const RemoteDriveState& drive) {
    QMutexLocker lock(&mutex_);
    drive_ = drive;
}

RemoteDriveState RemoteBoard::Drive() const {
    QMutexLocker lock(&mutex_);
    return drive_;
}

}  // namespace zanth
