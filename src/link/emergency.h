#pragma once
#include <cstdint>

namespace zanth::emergency {

// The robot's last word when the process dies where no ordinary tear-down can run: a crash signal
// (SIGSEGV, SIGABRT, SIGBUS, SIGFPE) or a fatal Qt message. A signal handler may neither lock nor wait for
// the link thread, so the running link publishes its port's descriptor and the LED of the frames it sends
// here, and the neutral message is prepared in advance for both LED states; the handler only loads an atomic
// and calls write().
//
// The link thread could be half way through a message when the handler runs. Every write of the link passes
// a WriteGate, so the handler first stops new writes, then waits (at most kSettleMs) for the writes under way
// to end: the neutral message then follows a whole message. A crash on the thread that is itself inside a
// write, or a write that does not end in time (a line that takes nothing), gets no last word: behind half a
// message the robot would read the neutral bytes as the rest of it.
//
// Once the last word has begun it is final for the process: the gate stays shut and Withdraw refuses, so
// that the descriptor the handler writes to is never closed (and its number never reused) under it.

// How long the last word waits for a write under way. Longer than any single write of the link.
inline constexpr int kSettleMs = 300;

// Who published the descriptor now in place; 0 = nobody.
using Token = std::uint32_t;

// Makes `fd` the descriptor of the last word (none when fd < 0). Nothing is armed until SetLed has said what
// the LED shows: until then the robot has had no frame, and is sent none.
Token Publish(int fd);
// The LED of the frames the link sends now; arms the last word. Ignored unless `token` is still in place.
void SetLed(Token token, bool ledLit);
// Before the descriptor of `token` closes. False once the last word has begun: the descriptor must then be
// left open.
bool Withdraw(Token token);

// Held around every write of the link to the port.
class WriteGate {
  public:
    WriteGate();
    ~WriteGate();
    WriteGate(const WriteGate&) = delete;
    WriteGate& operator=(const WriteGate&) = delete;
    // False once the last word has begun: nothing more may be written.
    bool open() const { return open_; }

  private:
    bool open_;
};

// Sends the neutral message with the published LED to the published descriptor, once per process (later
// calls do nothing). Async-signal-safe. True when the whole message was handed to the driver.
bool SendLastWord();
// True once SendLastWord has been called.
bool LastWordBegun();

// The crash signals and fatal Qt messages send the last word, then the process ends as it would have
// (the signal's default action, Qt's abort). The crash handlers run on an alternate stack, so that a stack
// overflow of the main thread still gets them. Call once, early.
void InstallCrashHandlers();

}  // namespace zanth::emergency
