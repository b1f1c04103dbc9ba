#pragma once
// The robot simulator as a child process of a test: its first output line is the line's device path, every
// further line one decoded message.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace zanth::test {

class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string>& options) {
        std::vector<std::string> args = {ZANTH_BINARY_DIR "/tools/robot_sim/zanth-robot-sim"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
        if (pid_ > 0) path_ = ReadLine(10000);
    }
    ~SimProcess() {
        if (pid_ > 0) Kill(SIGTERM);
        if (out_ >= 0) close(out_);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The device to connect to; empty when the simulator did not start.
    const std::string& path() const { return path_; }

    // The next output line, or empty after waiting `timeoutMs` for it in vain or at the end of the output.
    std::string ReadLine(int timeoutMs) {
        for (;;) {
            auto nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return line;
            }
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) return {};
            char chunk[512];
            ssize_t got = read(out_, chunk, sizeof chunk);
            if (got <= 0) {
                ended_ = true;
                return {};
            }
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
    }

    // Every line until the simulator ends by itself (at most `timeoutMs` per line), then its exit status.
    std::vector<std::string> LinesUntilExit(int timeoutMs, int* status) {
        std::vector<std::string> lines;
        for (std::string line = ReadLine(timeoutMs); !line.empty(); line = ReadLine(timeoutMs))
            lines.push_back(line);
        // A simulator that did not end by itself is killed, so the test fails instead of hanging.
        *status = ended_ ? Kill(0) : Kill(SIGKILL);
        return lines;
    }

    // Sends `signal` (0: none, just wait) and reaps the process; its exit status, or -1 when killed by a
    // signal.
    int Kill(int signal) {
        if (pid_ <= 0) return -1;
        if (signal != 0) kill(pid_, signal);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string path_;
    std::string buffer_;
    bool ended_ = false;
};

}  // namespace zanth::test
