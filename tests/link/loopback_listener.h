#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace zanth::test {

// A socket listening on 127.0.0.1 at a port the system picks, as the far end of a network bridge.
// `flags` go to socket() (SOCK_NONBLOCK: accept() never waits); a `receiveBuffer` above 0 asks for that
// receive buffer (the system raises it to its least), which connections accepted later inherit.
class LoopbackListener {
  public:
    explicit LoopbackListener(int backlog, int flags = 0, int receiveBuffer = 0) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
        if (receiveBuffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, backlog) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            return;
        address_ = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
        at_ = a;
    }
    ~LoopbackListener() { close(fd_); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int fd() const { return fd_; }
    // Empty when the socket could not be set up.
    const std::string& address() const { return address_; }
    const sockaddr_in& at() const { return at_; }

  private:
    int fd_ = -1;
    std::string address_;
    sockaddr_in at_{};
};

}  // namespace zanth::test
