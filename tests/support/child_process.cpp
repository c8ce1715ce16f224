#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace zuz::test {

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0) close(outFd_);
    if (errFd_ >= 0) close(errFd_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::pair<std::string, std::string>>& env) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (!workingDir_.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir_.c_str());

    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : env) replaced |= entry.rfind(name + "=", 0) == 0;
        if (!replaced) envText.push_back(entry);
    }
    for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
    std::vector<char*> envp, args;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argText = argv;
    for (auto& a : argText) args.push_back(a.data());
    args.push_back(nullptr);

    const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    if (rc != 0) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::Drain(int timeoutMs) {
    pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) <= 0) return;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            (i == 0 ? out_ : err_).append(buffer, static_cast<std::size_t>(n));
        } else {
            close(fds[i].fd);
            (i == 0 ? outFd_ : errFd_) = -1;
        }
    }
}

std::optional<std::string> ChildProcess::ReadLine(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        if (const auto nl = out_.find('\n'); nl != std::string::npos) {
            std::string line = out_.substr(0, nl);
            out_.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (outFd_ < 0 || left.count() <= 0) return std::nullopt;
        Drain(static_cast<int>(left.count()));
    }
}

void ChildProcess::Signal(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
    if (pid_ <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            pid_ = -1;
            while (outFd_ >= 0 || errFd_ >= 0) Drain(1000);
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        if (outFd_ >= 0 || errFd_ >= 0)
            Drain(10);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int ChildProcess::Run(const std::vector<std::string>& argv, std::string* out, std::string* err,
                      const std::vector<std::pair<std::string, std::string>>& env, int timeoutMs) {
    ChildProcess child;
    if (!child.Start(argv, env)) return -1;
    auto status = child.Wait(timeoutMs);
    if (!status) {
        child.Signal(SIGKILL);
        status = child.Wait(5000);
    }
    if (out) *out = child.out_;
    if (err) *err = child.err_;
    return status.value_or(-1);
}

}  // namespace zuz::test
