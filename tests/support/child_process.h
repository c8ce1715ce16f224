// A program started by a test: its standard output and error come back through pipes, and
// the destructor kills and reaps it if it still runs, so no test leaves a process behind.
//
// Time-outs here only keep a broken program from hanging a test; tests never assert on them.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zuz::test {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (a path) with the arguments, the test's environment plus `env`.
    // False when it could not be started.
    bool Start(const std::vector<std::string>& argv,
               const std::vector<std::pair<std::string, std::string>>& env = {});

    // The next line of standard output without its line end; nothing at end of output or
    // when no line came within timeoutMs.
    std::optional<std::string> ReadLine(int timeoutMs);

    // The working directory of the next Start (empty: the test's own).
    void SetWorkingDirectory(const std::string& dir) { workingDir_ = dir; }

    // Sends a signal to the program (nothing when it has been reaped).
    void Signal(int signal);

    // Waits for the program to end: its exit status, 128 + signal when a signal ended it, or
    // nothing when it still runs after timeoutMs. Reads what is left of both outputs.
    std::optional<int> Wait(int timeoutMs);

    // Runs a program to its end (killed after timeoutMs): exit status as Wait gives it.
    static int Run(const std::vector<std::string>& argv, std::string* out, std::string* err,
                   const std::vector<std::pair<std::string, std::string>>& env = {}, int timeoutMs = 30000);

    pid_t Pid() const { return pid_; }
    const std::string& Stderr() const { return err_; }
    // Standard output not yet taken by ReadLine.
    const std::string& Stdout() const { return out_; }

private:
    void Drain(int timeoutMs);

    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    std::string out_, err_;
    std::string workingDir_;
};

}  // namespace zuz::test
