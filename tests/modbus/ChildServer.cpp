#include "tests/modbus/ChildServer.h"
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

bool ChildServer::Start(int timeoutMs, std::string* output)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char*> args;
        for (std::string& a : argv_) args.push_back(&a[0]);
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(pipeFds[1]);
    out_ = pipeFds[0];
    if (pid_ < 0) return false;
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char b[256];
        ssize_t n = read(out_, b, sizeof b);
        if (n <= 0) break;
        text.append(b, (size_t)n);
        size_t at = text.find("listening ");
        if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
            port_ = atoi(text.c_str() + at + 10);
            return port_ > 0;
        }
    }
    if (output) *output = text;
    Stop();
    return false;
}

void ChildServer::Stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status;
        bool reaped = false;
        for (int i = 0; i < 500 && !reaped; i++) {
            reaped = waitpid(pid_, &status, WNOHANG) == pid_;
            if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!reaped) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    if (out_ != -1) close(out_);
    out_ = -1;
}
