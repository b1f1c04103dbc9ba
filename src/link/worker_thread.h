#pragma once
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace zanth {

// A thread of its own and the wake-up descriptor (an eventfd) its waits poll. Stop makes the descriptor
// readable for good, so that every wait the thread is in or enters ends at once, and joins the thread; the
// destructor stops. Start, Stop and the destructor belong to the owner's thread.
class WorkerThread {
  public:
    WorkerThread() = default;
    ~WorkerThread() { Stop(); }
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs `body` on a new thread with a new wake-up descriptor. False with `reason` (may be null) when a
    // thread runs already, or the descriptor or the thread cannot be made; `body` is then destroyed unrun.
    template <class Body>
    bool Start(Body&& body, std::string* reason = nullptr) {
        if (!OpenWake(reason)) return false;
        try {
            thread_ = std::thread(std::forward<Body>(body));
        } catch (const std::system_error& e) {
            CloseWake();
            if (reason != nullptr) *reason = e.what();
            return false;
        }
        return true;
    }
    // Wakes the thread for good and joins it. Safe when nothing runs.
    void Stop();
    bool Running() const { return thread_.joinable(); }
    // The wake-up descriptor; -1 when nothing runs. Set before the thread starts and closed after it ends, so
    // the thread may read it.
    int wakeFd() const { return wakeFd_; }

  private:
    bool OpenWake(std::string* reason);
    void CloseWake();

    std::thread thread_;
    int wakeFd_ = -1;
};

}  // namespace zanth
