#include "link/port_watcher.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>

#include "link/log.h"
#include "link/ports.h"

namespace zanth {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kDirEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;

// The watched folders; a watch of dev reports only what concerns serial devices.
class Watches {
  public:
    Watches(int fd, const std::string& root) : fd_(fd), dev_(root + "/dev") {}
    // (Re)adds the watches of folders that exist now: dev/serial appears with the first USB adapter.
    void Add() {
        if (fd_ < 0) return;
        for (const std::string& dir : {dev_, dev_ + "/serial", dev_ + "/serial/by-id"}) {
            const int wd = inotify_add_watch(fd_, dir.c_str(), kDirEvents);
            if (wd >= 0) isDev_[wd] = dir == dev_;
        }
    }
    // Reads what is pending; true when any of it may change the list.
    bool Relevant() {
        alignas(inotify_event) char buffer[4096];
        bool relevant = false;
        for (;;) {
            const ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got <= 0) return relevant;
            for (ssize_t at = 0; at < got;) {
                const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
                const std::string name = e->len > 0 ? e->name : "";
                auto dev = isDev_.find(e->wd);
                const bool inDev = dev != isDev_.end() && dev->second;
                if (e->mask & IN_IGNORED) isDev_.erase(e->wd);
                if ((e->mask & IN_Q_OVERFLOW) || !inDev || name == "serial" || MaybeSerialName(name))
                    relevant = true;
            }
        }
    }

  private:
    int fd_;
    std::string dev_;
    std::map<int, bool> isDev_;
};

}  // namespace

PortWatcher::PortWatcher(std::string root, ScanFn scan, std::vector<SerialDevice> initial, QObject* parent)
    : QObject(parent),
      root_(root.empty() ? "/" : std::move(root)),
      scan_(std::move(scan)),
      latest_(std::move(initial)) {
    if (root_.size() > 1 && root_.back() == '/') root_.pop_back();
}

PortWatcher::~PortWatcher() {
    Stop();
}

bool PortWatcher::Start(std::string* reason) {
    if (thread_.Running()) return true;
    return thread_.Start([this] { Run(); }, reason);
}

void PortWatcher::Stop() {
    thread_.Stop();
}

std::vector<SerialDevice> PortWatcher::Latest() const {
    std::lock_guard lock(mutex_);
    return latest_;
}

void PortWatcher::Rescan(bool touchedByEvent) {
    std::vector<SerialDevice> now = scan_();
    bool differs = false;
    {
        std::lock_guard lock(mutex_);
        differs = now != latest_;
        if (differs) latest_ = std::move(now);
    }
    if (differs) emit changed();
    if (touchedByEvent) emit touched();
}

void PortWatcher::Run() {
    const int in = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (in < 0)
        qCWarning(lcLink, "no inotify (%s): serial devices are looked for once a second",
                  std::strerror(errno));
    Watches watches(in, root_ == "/" ? "" : root_);
    watches.Add();
    // What came and went between the owner's scan and the watches is not missed.
    Rescan(false);
    bool pending = false;
    Clock::time_point due;
    for (;;) {
        int timeout = in < 0 ? kFallbackPollMs : -1;
        if (pending) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
            timeout = static_cast<int>(std::max<long long>(left, 0));
        }
        pollfd fds[2] = {{thread_.wakeFd(), POLLIN, 0}, {in, POLLIN, 0}};
        const int ready = poll(fds, in >= 0 ? 2 : 1, timeout);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || fds[0].revents != 0) break;
        if (ready > 0 && fds[1].revents != 0 && watches.Relevant() && !pending) {
            pending = true;
            due = Clock::now() + std::chrono::milliseconds(kSettleMs);
        }
        // Checked by the clock, not by the time-out: a stream of events must not put the scan off for ever.
        if (pending ? Clock::now() >= due : ready == 0) {
            const bool byEvent = pending;
            pending = false;
            watches.Add();
            Rescan(byEvent);
        }
    }
    if (in >= 0) close(in);
}

}  // namespace zanth
