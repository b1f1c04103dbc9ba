#include "link/emergency.h"

#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <cerrno>
#include <cstdio>

#include "link/frame.h"

namespace zanth::emergency {
namespace {

// The gate: the number of writes under way, and whether the last word has begun.
constexpr std::uint32_t kShut = 1u << 31;
std::atomic<std::uint32_t> gGate{0};
// Writes under way on this thread (the crash may be on a thread that is inside one).
thread_local int tWrites __attribute__((tls_model("initial-exec"))) = 0;

// The published port in one word, so that a handler reads it whole: descriptor + 1 (0 = none) in bits
// 0..31, armed in bit 32, LED lit in bit 33, the token in the bits above.
std::atomic<std::uint64_t> gSlot{0};
constexpr std::uint64_t kArmed = 1ull << 32;
constexpr std::uint64_t kLedLit = 1ull << 33;
constexpr int kTokenShift = 34;
std::atomic<Token> gNextToken{1};
std::atomic<bool> gBegun{false};

Token TokenOf(std::uint64_t slot) {
    return static_cast<Token>(slot >> kTokenShift);
}

// Prepared before any handler can run: building them there would be no business of a signal handler.
const WireMessage kNeutralLit = BuildMessage(NeutralFrame(true), false);
const WireMessage kNeutralDark = BuildMessage(NeutralFrame(false), false);

long long NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// The writes of other threads have ended by `deadline`.
bool OthersDone(long long deadline) {
    const timespec pause{0, 1000000};
    while ((gGate.load() & ~kShut) > static_cast<std::uint32_t>(tWrites)) {
        if (NowMs() >= deadline) return false;
        nanosleep(&pause, nullptr);
    }
    return true;
}

bool WriteAll(int fd, const WireMessage& message, long long deadline) {
    std::size_t done = 0;
    while (done < message.size()) {
        const ssize_t put = write(fd, message.data() + done, message.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return false;
        const long long left = deadline - NowMs();
        if (left <= 0) return false;
        pollfd p{fd, POLLOUT, 0};
        poll(&p, 1, static_cast<int>(left));
    }
    return true;
}

void OnCrash(int sig) {
    const int savedErrno = errno;
    SendLastWord();
    errno = savedErrno;
    // The handler was reset on entry; the signal, blocked while we run, strikes again with its default
    // action when we return (a fault also recurs by itself).
    raise(sig);
}

QtMessageHandler gPreviousHandler = nullptr;

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    // Qt aborts once the handlers have returned; the robot hears first.
    if (type == QtFatalMsg) SendLastWord();
    if (gPreviousHandler != nullptr) {
        gPreviousHandler(type, context, text);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
    }
}

}  // namespace

Token Publish(int fd) {
    if (fd < 0) return 0;
    Token token = 0;
    while (token == 0) token = gNextToken.fetch_add(1) & ((1u << (64 - kTokenShift)) - 1);
    gSlot.store(static_cast<std::uint64_t>(static_cast<std::uint32_t>(fd) + 1) |
                (static_cast<std::uint64_t>(token) << kTokenShift));
    return token;
}

void SetLed(Token token, bool ledLit) {
    std::uint64_t slot = gSlot.load();
    for (;;) {
        if (token == 0 || TokenOf(slot) != token) return;
        const std::uint64_t next = (slot | kArmed | kLedLit) & ~(ledLit ? 0 : kLedLit);
        if (next == slot || gSlot.compare_exchange_weak(slot, next)) return;
    }
}

bool Withdraw(Token token) {
    // A descriptor that is not (or no longer) the published one is nobody's business here.
    if (token == 0 || TokenOf(gSlot.load()) != token) return true;
    const WriteGate gate;
    if (!gate.open()) return false;
    std::uint64_t slot = gSlot.load();
    while (TokenOf(slot) == token && !gSlot.compare_exchange_weak(slot, 0)) {
    }
    return true;
}

WriteGate::WriteGate() {
    std::uint32_t gate = gGate.load();
    do {
        open_ = (gate & kShut) == 0;
    } while (open_ && !gGate.compare_exchange_weak(gate, gate + 1));
    if (open_) ++tWrites;
}

WriteGate::~WriteGate() {
    if (!open_) return;
    --tWrites;
    gGate.fetch_sub(1);
}

bool SendLastWord() {
    if (gBegun.exchange(true)) return false;
    gGate.fetch_or(kShut);
    const long long deadline = NowMs() + kSettleMs;
    // A write of this very thread cannot end while we are here; one of another thread gets its time.
    if (tWrites > 0 || !OthersDone(deadline)) return false;
    const std::uint64_t slot = gSlot.load();
    const int fd = static_cast<int>(static_cast<std::uint32_t>(slot)) - 1;
    if (fd < 0 || (slot & kArmed) == 0) return false;
    return WriteAll(fd, (slot & kLedLit) != 0 ? kNeutralLit : kNeutralDark, deadline);
}

bool LastWordBegun() {
    return gBegun.load();
}

void InstallCrashHandlers() {
    // The main thread's overflowed stack has no room left for a handler.
    static char altStack[64 * 1024];
    stack_t ss{};
    ss.ss_sp = altStack;
    ss.ss_size = sizeof altStack;
    sigaltstack(&ss, nullptr);

    struct sigaction sa {};
    sa.sa_handler = OnCrash;
    sigemptyset(&sa.sa_mask);
    // A robot gone from a socket must not turn the crash into a SIGPIPE before the real signal is raised.
    sigaddset(&sa.sa_mask, SIGPIPE);
    sa.sa_flags = SA_ONSTACK | SA_RESETHAND;
    for (const int sig : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE}) sigaction(sig, &sa, nullptr);
    gPreviousHandler = qInstallMessageHandler(OnQtMessage);
}

}  // namespace zanth::emergency
