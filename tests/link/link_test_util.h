#pragma once
// Helpers of the link tests: a pseudo-terminal whose master side plays the robot, and an event loop for the
// queued signals of the link thread.

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zanth::test {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

inline long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// How long a loaded machine may hold a thread. A wall-clock bound in a test is the code's own budget plus
// this; anything tighter is a figure for the benchmarks.
inline constexpr int kStallMs = 1000;

// The port under test opens the terminal side by name.
struct Pty {
    int master = -1;
    int slave = -1;  // kept open so the master never sees a hang-up between the test's opens
    std::string name;

    // `raw`: the terminal starts raw; otherwise it has the system's default (cooked, echoing) settings and
    // the port under test has to make it raw itself.
    explicit Pty(bool raw = false) {
        char buffer[128];
        termios tio{};
        cfmakeraw(&tio);
        if (openpty(&master, &slave, buffer, raw ? &tio : nullptr, nullptr) == 0) name = buffer;
    }
    ~Pty() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void CloseMaster() {
        close(master);
        master = -1;
    }
    bool Send(const Bytes& bytes) const {
        return write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Up to n bytes from the master, waiting at most timeoutMs for each piece.
    Bytes Receive(std::size_t n, int timeoutMs = 5000) const {
        Bytes got;
        while (got.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) break;
            std::uint8_t buffer[256];
            ssize_t r = read(master, buffer, std::min(sizeof buffer, n - got.size()));
            if (r <= 0) break;
            got.insert(got.end(), buffer, buffer + r);
        }
        return got;
    }
    // Output stops as with a peer that holds the line off: software flow control, then XOFF from the master.
    bool StopOutput() const {
        termios tio{};
        if (tcgetattr(slave, &tio) != 0) return false;
        tio.c_iflag |= IXON;
        tio.c_cc[VSTOP] = 0x13;  // a raw pty may have no stop character at all
        return tcsetattr(slave, TCSANOW, &tio) == 0 && Send({0x13});
    }
};

inline void EnsureApp() {
    static int argc = 1;
    static char name[] = "zanth_link_tests";
    static char* argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr) new QCoreApplication(argc, argv);
}

// Runs the event loop (so that queued signals from the link thread arrive) until `done` or `timeoutMs`.
template <typename Done>
bool RunUntil(Done done, int timeoutMs) {
    EnsureApp();
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return done();
}

}  // namespace zanth::test
