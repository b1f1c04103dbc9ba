#pragma once
// Calls from the server's thread into the host's, one at a time, each waited for. The call is handed over
// under a mutex of ours rather than inside Qt's event (whose own lock ThreadSanitizer cannot see into), so
// that what the caller wrote before and reads after is ordered with what the call does, for the tools too.
#include <QObject>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace zanth {

class HostCalls {
  public:
    // On the caller's thread: asks `host` to run `job` on its own thread, and waits until it has. The host
    // takes it in its slot TakeCall, which calls Take.
    void Run(QObject* host, const std::function<void()>& job);
    // On the host's thread. `job` may delete the host: nothing of it is touched afterwards.
    void Take();

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    const std::function<void()>* job_ = nullptr;
};

}  // namespace zanth
