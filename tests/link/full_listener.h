#pragma once
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "loopback_listener.h"

namespace zanth::test {

// A local listener whose queue is full: further connects get no answer at all, as from a bridge that is
// out of reach.
class FullListener {
  public:
    FullListener() : listener_(0) {
        if (listener_.address().empty()) return;
        for (int i = 0; i < 3; ++i) {
            int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            connect(c, reinterpret_cast<const sockaddr*>(&listener_.at()), sizeof listener_.at());
            clients_.push_back(c);
        }
        usleep(100000);
    }
    ~FullListener() {
        for (int c : clients_) close(c);
    }
    const std::string& address() const { return listener_.address(); }

  private:
    LoopbackListener listener_;
    std::vector<int> clients_;
};

}  // namespace zanth::test
