#pragma once
// What the input tests against a real X server share.
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace zanth::test {

// Runs a program to its end; its exit status, or -1.
inline int RunProgram(std::vector<std::string> args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace zanth::test
