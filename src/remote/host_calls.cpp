#include "remote/host_calls.h"

namespace zanth {

void HostCalls::Run(QObject* host, const std::function<void()>& job) {
    std::unique_lock lock(mutex_);
    job_ = &job;
    // By name: the event carries nothing of ours; the job itself is read under the mutex.
    QMetaObject::invokeMethod(host, "TakeCall", Qt::QueuedConnection);
    done_.wait(lock, [this] { return job_ == nullptr; });
}

void HostCalls::Take() {
    std::unique_lock lock(mutex_);
    if (job_ == nullptr) return;
    (*job_)();
    job_ = nullptr;
    done_.notify_all();
}

}  // namespace zanth
