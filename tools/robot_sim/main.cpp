// zanth-robot-sim: stands in for the robot's control unit at the far end of the serial link, for tests and
// for trying the emulator without a robot. See Usage() for what it prints and answers.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "decode.h"

namespace {

using zanth::sim::Message;

constexpr const char* kUsage = R"(Usage: zanth-robot-sim [options]

Simulates the robot's control unit on a serial line. Without --device or --tcp it creates a
pseudo-terminal; the first line printed is always what to connect to (a device path, or tcp://127.0.0.1:PORT
for [PORTS] of the emulator's settings file). Then one line per 9-byte message received:

  <cmd> <8 frame bytes in hex> | buttons: <names or -> | RX=<n> RY=<n> LX=<n> LY=<n> | LED <on|off>

for example
)";
// Shown as the decoder describes them, so that the help cannot say otherwise: nothing held with the LED on,
// then L1 and F1 held.
constexpr Message kUsageExamples[] = {{'k', 0xFF, 0xFF, 0xFF, 0x80, 0x80, 0x80, 0x80, 0xF3},
                                      {'K', 0xFF, 0xFF, 0xFB, 0x80, 0x80, 0x80, 0x80, 0xF2}};
constexpr const char* kUsageRest =
    R"(Button names, in this order: SELECT L3 R3 START PAD_UP PAD_RIGHT PAD_DOWN PAD_LEFT L2 R2 L1 R1 1 2 3 4 F1 F2.
A frame whose first byte is not FF gets a fifth field " | bad start byte". Bytes that arrive where a message
should start and are not "k" or "K" are skipped and reported on standard error only.

Every "k" message is answered with the battery reply "BB <level> ".

Options:
  --device PATH      use this serial device instead of a pseudo-terminal
  --tcp PORT         be a network serial bridge instead: accept one connection at a time on 127.0.0.1:PORT
                     (0: any free port; the first line tells which)
  --level N          battery level in the replies (default 70)
  --level-file PATH  read the level from this file before every reply (falls back to --level when the file
                     is missing or holds no number), so a test can change it while the simulator runs
  --silent           never answer
  --delay MS         answer MS milliseconds late
  --garbage          answer with random bytes that are not a battery reply
  --log PATH         also append every message line to this file
  --timestamps       end every message line with " | at <seconds>": when its last byte was read, on the
                     system's monotonic clock (CLOCK_MONOTONIC), to the microsecond
  --keep-open        keep running when the peer closes the line or the connection (for reconnects); end
                     with SIGTERM
  --help             this text

Ends with status 0 on SIGTERM or SIGINT, and, unless --keep-open is given, when the peer that sent messages
closes the line (after at least one message: before that it waits for a peer, however long).
)";

struct Options {
    std::string device;
    int tcpPort = -1;  // -1: not a network bridge
    int level = 70;
    std::string levelFile;
    bool silent = false;
    int delayMs = 0;
    bool garbage = false;
    std::string logPath;
    bool keepOpen = false;
    bool timestamps = false;
};

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    int saved = errno;
    char c = 's';
    [[maybe_unused]] ssize_t n = write(signalPipe[1], &c, 1);
    errno = saved;
}

bool ParseInt(const char* text, int low, int high, int* out) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < low || v > high) return false;
    *out = static_cast<int>(v);
    return true;
}

void PrintUsage() {
    std::fputs(kUsage, stdout);
    for (const Message& m : kUsageExamples) std::printf("  %s\n", zanth::sim::DescribeMessage(m).c_str());
    std::fputs(kUsageRest, stdout);
}

// 0 = run, 1 = --help shown, 2 = bad usage.
int ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            PrintUsage();
            return 1;
        } else if (arg == "--device") {
            const char* v = value();
            ok = v != nullptr && *v != '\0';
            if (ok) o->device = v;
        } else if (arg == "--tcp") {
            ok = ParseInt(value(), 0, 65535, &o->tcpPort);
        } else if (arg == "--level") {
            ok = ParseInt(value(), -99999, 99999, &o->level);
        } else if (arg == "--level-file") {
            const char* v = value();
            ok = v != nullptr;
            if (ok) o->levelFile = v;
        } else if (arg == "--silent") {
            o->silent = true;
        } else if (arg == "--delay") {
            ok = ParseInt(value(), 0, 600000, &o->delayMs);
        } else if (arg == "--garbage") {
            o->garbage = true;
        } else if (arg == "--log") {
            const char* v = value();
            ok = v != nullptr;
            if (ok) o->logPath = v;
        } else if (arg == "--keep-open") {
            o->keepOpen = true;
        } else if (arg == "--timestamps") {
            o->timestamps = true;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "zanth-robot-sim: bad option or value: %s (see --help)\n", arg.c_str());
            return 2;
        }
    }
    return 0;
}

// A socket listening on 127.0.0.1:port, or -1; `address` gets "tcp://127.0.0.1:<port>". Only the loopback
// address: the simulator stands in for a bridge on this machine and answers nobody else.
int ListenTcp(int port, std::string* address) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    int on = 1;
    // A restarted simulator takes its port back at once, whatever the last connection left behind.
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    socklen_t size = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
        close(fd);
        return -1;
    }
    *address = "tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    return fd;
}

// The next connection to the bridge, or -1 when none is waiting.
int AcceptTcp(int listenFd) {
    int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return fd;
}

bool MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tio.c_cflag |= CLOCAL | CREAD;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

int CurrentLevel(const Options& o) {
    if (o.levelFile.empty()) return o.level;
    std::ifstream in(o.levelFile);
    long v = 0;
    if (in >> v && v > -100000 && v < 100000) return static_cast<int>(v);
    return o.level;
}

std::vector<std::uint8_t> MakeReply(const Options& o, std::mt19937& random) {
    std::vector<std::uint8_t> reply;
    if (o.garbage) {
        std::uniform_int_distribution<int> length(1, 12), byte(0, 255);
        int n = length(random);
        for (int i = 0; i < n; ++i) reply.push_back(static_cast<std::uint8_t>(byte(random)));
        if (reply[0] == 'B') reply[0] = 'X';  // never a battery reply
        return reply;
    }
    std::string text = "BB " + std::to_string(CurrentLevel(o)) + " ";
    return {text.begin(), text.end()};
}

// The monotonic clock as seconds with six decimals: the clock other programs on the machine can compare with.
std::string MonotonicText() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char text[40];
    std::snprintf(text, sizeof text, "%lld.%06ld", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
    return text;
}

void WriteAll(int fd, const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        ssize_t put = write(fd, data, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            // A peer that reads nothing fills the line; a real unit would lose the reply as well.
            if (put < 0 && errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                if (poll(&p, 1, 100) > 0) continue;
            }
            return;
        }
        data += put;
        n -= static_cast<std::size_t>(put);
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (int r = ParseOptions(argc, argv, &o); r != 0) return r == 1 ? 0 : 2;

    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("zanth-robot-sim: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a reader of our output that goes away must not kill us mid-line

    int lineFd = -1;
    // Our own descriptor of the pty's terminal side. While it is open the master never reports a hang-up, so
    // the simulator can wait for a peer however long; it is closed once a peer has sent a message, after
    // which a hang-up on the master means that peer has closed the line.
    int heldSlave = -1;
    std::string path;
    int listenFd = -1;  // --tcp: the bridge's listening socket; lineFd is then the connection, -1 between two
    if (o.tcpPort >= 0) {
        listenFd = ListenTcp(o.tcpPort, &path);
        if (listenFd < 0) {
            std::fprintf(stderr, "zanth-robot-sim: 127.0.0.1:%d: %s\n", o.tcpPort, std::strerror(errno));
            return 1;
        }
    } else if (o.device.empty()) {
        lineFd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        const char* name =
            lineFd >= 0 && grantpt(lineFd) == 0 && unlockpt(lineFd) == 0 ? ptsname(lineFd) : nullptr;
        if (name == nullptr) {
            std::perror("zanth-robot-sim: pseudo-terminal");
            return 1;
        }
        path = name;
        heldSlave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        // Raw before anyone connects: no echo of frames back to the sender, no translation of 0x0D or 0x11.
        if (heldSlave < 0 || !MakeRaw(heldSlave)) {
            std::perror("zanth-robot-sim: terminal side");
            return 1;
        }
    } else {
        path = o.device;
        lineFd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (lineFd < 0) {
            std::fprintf(stderr, "zanth-robot-sim: %s: %s\n", path.c_str(), std::strerror(errno));
            return 1;
        }
        if (isatty(lineFd)) MakeRaw(lineFd);
    }
    if (lineFd >= 0) fcntl(lineFd, F_SETFL, fcntl(lineFd, F_GETFL) | O_NONBLOCK);

    FILE* log = nullptr;
    if (!o.logPath.empty()) {
        log = std::fopen(o.logPath.c_str(), "a");
        if (log == nullptr) {
            std::fprintf(stderr, "zanth-robot-sim: %s: %s\n", o.logPath.c_str(), std::strerror(errno));
            return 1;
        }
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point due;
        std::vector<std::uint8_t> bytes;
    };
    std::deque<Pending> replies;  // due times only grow: every reply waits the same delay
    zanth::sim::MessageReader reader;
    std::mt19937 random(std::random_device{}());
    bool peerSeen = false;

    for (;;) {
        int timeout = -1;
        if (!replies.empty()) {
            auto left =
                std::chrono::ceil<std::chrono::milliseconds>(replies.front().due - Clock::now()).count();
            timeout = left < 0 ? 0 : static_cast<int>(left);
        }
        const bool accepting = lineFd < 0;
        pollfd fds[2] = {{accepting ? listenFd : lineFd, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && fds[1].revents) break;
        if (accepting) {
            if (ready > 0 && fds[0].revents) lineFd = AcceptTcp(listenFd);
            continue;
        }

        while (!replies.empty() && replies.front().due <= Clock::now()) {
            WriteAll(lineFd, replies.front().bytes.data(), replies.front().bytes.size());
            replies.pop_front();
        }
        if (ready <= 0 || fds[0].revents == 0) continue;

        std::uint8_t buffer[4096];
        ssize_t got = read(lineFd, buffer, sizeof buffer);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got <= 0 && listenFd >= 0) {
            // The connection ended: wait for the next one, unless a peer that sent messages is gone for good.
            close(lineFd);
            lineFd = -1;
            reader = zanth::sim::MessageReader{};
            replies.clear();
            if (o.keepOpen || !peerSeen) continue;
            break;
        }
        if (got <= 0) {
            // EIO (pty) or end of file: the peer has closed the line.
            if (o.keepOpen || (!peerSeen && heldSlave >= 0)) {
                poll(nullptr, 0,
                     100);  // cannot happen while we hold the terminal side; never spin if it does
                continue;
            }
            break;
        }
        // Taken before any line is written: a measurement needs the arrival, not our own output's pace.
        const std::string arrival = o.timestamps ? MonotonicText() : std::string();
        reader.Feed(buffer, static_cast<std::size_t>(got));

        Message message;
        while (reader.Next(message)) {
            std::string line = zanth::sim::DescribeMessage(message);
            if (o.timestamps) line += " | at " + arrival;
            line += "\n";
            std::fputs(line.c_str(), stdout);
            std::fflush(stdout);
            if (log != nullptr) {
                std::fputs(line.c_str(), log);
                std::fflush(log);
            }
            if (message[0] == 'k' && !o.silent)
                replies.push_back(
                    {Clock::now() + std::chrono::milliseconds(o.delayMs), MakeReply(o, random)});
            if (!peerSeen) {
                peerSeen = true;
                if (heldSlave >= 0 && !o.keepOpen) {
                    close(heldSlave);
                    heldSlave = -1;
                }
            }
        }
        if (const std::size_t skipped = reader.TakeSkipped(); skipped > 0)
            std::fprintf(stderr, "zanth-robot-sim: skipped %zu byte(s) outside a message\n", skipped);
        // Answer at once when no delay was asked for, rather than after the next poll.
        while (!replies.empty() && replies.front().due <= Clock::now()) {
            WriteAll(lineFd, replies.front().bytes.data(), replies.front().bytes.size());
            replies.pop_front();
        }
    }

    if (log != nullptr) std::fclose(log);
    if (heldSlave >= 0) close(heldSlave);
    if (lineFd >= 0) close(lineFd);
    if (listenFd >= 0) close(listenFd);
    return 0;
}
