#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace zanth::test {

// A local listener whose queue is full: further connects get no answer at all, as from a bridge that is
// out of reach.
class FullListener {
  public:
    FullListener() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 0) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        address_ = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
        for (int i = 0; i < 3; ++i) {
            int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
            clients_.push_back(c);
        }
        usleep(100000);
    }
    ~FullListener() {
        for (int c : clients_) close(c);
        close(listener_);
    }
    const std::string& address() const { return address_; }

  private:
    int listener_ = -1;
    std::vector<int> clients_;
    std::string address_;
};

}  // namespace zanth::test
