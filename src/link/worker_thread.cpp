#include "link/worker_thread.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zanth {

bool WorkerThread::OpenWake(std::string* reason) {
    auto fail = [&](std::string text) {
        if (reason != nullptr) *reason = std::move(text);
        return false;
    };
    if (thread_.joinable()) return fail("a thread is running already");
    const int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return fail(std::strerror(errno));
    wakeFd_ = fd;
    return true;
}

void WorkerThread::CloseWake() {
    if (wakeFd_ >= 0) close(wakeFd_);
    wakeFd_ = -1;
}

void WorkerThread::Stop() {
    // An eventfd stays readable once written.
    const std::uint64_t one = 1;
    while (wakeFd_ >= 0 && write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    if (thread_.joinable()) thread_.join();
    CloseWake();
}

}  // namespace zanth
