#include "link/link_worker.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <system_error>

namespace zanth {
namespace {

constexpr int kOpenDiscardMs = 500;
constexpr int kFrameDiscardMs = 100;
constexpr int kReplyTimeoutMs = 25;
constexpr int kReplyBytes = 128;

}  // namespace

LinkWorker::LinkWorker(QObject* parent) : QObject(parent) {}

LinkWorker::~LinkWorker() {
    Stop(std::nullopt);
}

bool LinkWorker::Start(PortHandle port) {
    if (port == nullptr) return false;
    if (thread_.joinable()) {
        ComClose(port);
        return false;
    }
    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) {
        ComClose(port);
        return false;
    }
    port_ = port;
    wakeFd_ = wake;
    try {
        thread_ = std::thread(&LinkWorker::Run, this);
    } catch (const std::system_error&) {
        ComClose(port_);
        port_ = nullptr;
        close(wakeFd_);
        wakeFd_ = -1;
        return false;
    }
    return true;
}

void LinkWorker::SetFrame(const ControllerFrame& frame, bool replyWanted) {
    std::lock_guard lock(mutex_);
    frame_ = frame;
    replyWanted_ = replyWanted;
}

void LinkWorker::Stop(std::optional<ControllerFrame> finalFrame) {
    if (thread_.joinable()) {
        // The eventfd stays readable once written, so every wait the thread is in or enters ends at once.
        std::uint64_t one = 1;
        while (write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    if (port_ != nullptr) {
        // The thread is gone, so this message cannot land between the halves of another one.
        if (finalFrame) {
            if (ComWriteMessage(port_, finalFrame->data(), static_cast<int>(finalFrame->size()), false) > 0)
                ++messagesSent_;
        }
        ComClose(port_);
        port_ = nullptr;
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
        wakeFd_ = -1;
    }
}

void LinkWorker::FailAndWait(const std::string& reason) {
    emit linkError(QString::fromStdString(reason));
    // Asleep until Stop: a dead port answers every poll at once, so touching it again would spin.
    pollfd p{wakeFd_, POLLIN, 0};
    while (poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
}

void LinkWorker::Run() {
    ComResult r = ComDrainInterruptible(port_, kOpenDiscardMs, wakeFd_);
    for (;;) {
        if (r.status == ComStatus::kWoken) return;
        if (r.status == ComStatus::kFailed) return FailAndWait(r.reason);

        r = ComDrainInterruptible(port_, kFrameDiscardMs, wakeFd_);
        if (r.status != ComStatus::kOk) continue;

        std::optional<ControllerFrame> frame;
        bool replyWanted = false;
        {
            std::lock_guard lock(mutex_);
            frame = frame_;
            replyWanted = replyWanted_;
        }
        if (!frame) continue;

        r = ComWriteMessageInterruptible(port_, frame->data(), static_cast<int>(frame->size()), replyWanted,
                                         wakeFd_);
        if (r.status != ComStatus::kOk) continue;
        ++messagesSent_;
        if (!replyWanted) continue;

        // The whole 25 ms are read unless 128 bytes come, as the robot may answer in pieces.
        std::uint8_t reply[kReplyBytes];
        r = ComReadInterruptible(port_, reply, kReplyBytes, kReplyTimeoutMs, wakeFd_);
        if (r.status == ComStatus::kWoken) continue;
        if (auto value = ParseBatteryReply(reply, static_cast<std::size_t>(r.count)))
            emit batteryReply(*value);
    }
}

}  // namespace zanth
