#pragma once
// What the server's thread and the GUI thread share, under one mutex: each client's hold and when it was
// last heard, the list the window shows, and the state the clients are told.
#include <QMutex>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "remote/remote_server.h"

namespace zanth {

class RemoteBoard {
  public:
    void Add(quint64 id, const QString& address);
    void Remove(quint64 id);
    void Greet(quint64 id, const QString& name);
    // A client that gave the key and waits for the user to allow it.
    void Wait(quint64 id, const QString& name);
    // One message of client `id` heard at `now`. A client silent past the limit has let go of everything
    // before this message counts, so a press never comes back from before the silence.
    void Heard(quint64 id, const RemoteMessage& message, std::int64_t now);
    // Clears the holds of clients silent past the limit; answers whether any held something.
    bool ReleaseSilent(std::int64_t now);
    RemoteInput Input(std::int64_t now) const;
    // Items pressed since the last call, each once, whether still held or already let go.
    RemoteItems TakePresses();
    void ReleaseAll(RemoteRelease why = RemoteRelease::kStopAll);
    // Clients whose holds were let go since the last call, and why; each is told once.
    std::vector<std::pair<quint64, RemoteRelease>> TakeReleased();
    // What each greeted client holds as the frame sees it (nothing once silent).
    std::map<quint64, QStringList> Mine(std::int64_t now) const;
    QList<RemoteClientView> Views() const;
    int Greeted() const;

    void SetFeed(const RemoteFeed& feed);
    // The feed and a number that changes with it.
    RemoteFeed Feed(quint64* version) const;
    void SetDrive(const RemoteDriveState& drive);
    RemoteDriveState Drive() const;

  private:
    struct Client {
        RemoteHold hold;
        std::int64_t heardUs = 0;
        bool greeted = false;
        std::optional<RemoteRelease> released;  // not told yet
        RemoteClientView view;
    };
    bool Silent(const Client& c, std::int64_t now) const;

    mutable QMutex mutex_;
    std::map<quint64, Client> clients_;
    RemoteItems presses_;  // press edges not yet taken
    RemoteFeed feed_;
    quint64 feedVersion_ = 0;
    RemoteDriveState drive_;
};

}  // namespace zanth
