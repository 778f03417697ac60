#include "tests/support/SimProcess.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const int kStartTimeoutMs = 10000;
const int kStopTimeoutMs = 5000;
// Verbose runs of long benchmarks print tens of megabytes; keep the newest part only.
const size_t kOutputLimit = 64u << 20;
const char kListening[] = "pelta-sim: listening tcp ";

std::string BinaryPath() {
    const char* env = getenv("PELTA_SIM");
    if (env && *env) return env;
    env = getenv("PELTA_BIN_DIR");
    if (env && *env) return std::string(env) + "/pelta-sim";
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self);
    std::string path = n > 0 ? std::string(self, (size_t)n) : std::string("./test");
    return path.substr(0, path.rfind('/')) + "/pelta-sim";
}
}  // namespace

bool SimProcess::Start(std::string* error) {
    Stop();
    output_.clear();  // the reader has ended: nobody else touches these now
    readerDone_ = false;
    std::vector<std::string> args = launcher_;
    args.push_back(BinaryPath());
    for (const char* a : {"--listen", "127.0.0.1", "--port", "0", "--udp-port", "0"}) args.push_back(a);
    args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
    // Only async-signal-safe calls may run between fork and exec in a threaded parent.
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int fds[2] = {-1, -1};
    pid_t pid = pipe2(fds, O_CLOEXEC) == 0 ? fork() : -1;
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        if (error) *error = std::string("pipe or fork: ") + strerror(errno);
        close(fds[0]);
        return false;
    }
    std::unique_lock<std::mutex> reapLock(reapMutex_);
    pid_ = pid;
    reaped_ = false;
    reapLock.unlock();
    reader_ = std::thread(&SimProcess::ReaderLoop, this, fds[0]);
    std::unique_lock<std::mutex> lock(mutex_);
    bool seen = changed_.wait_for(lock, std::chrono::milliseconds(kStartTimeoutMs), [this] {
        return output_.find(kListening) != std::string::npos || readerDone_;
    });
    size_t at = output_.find(kListening);
    unsigned tcp = 0, udp = 0;
    bool parsed = at != std::string::npos &&
                  sscanf(output_.c_str() + at, "pelta-sim: listening tcp %*[^:]:%u udp %*[^:]:%u", &tcp, &udp) == 2;
    if (!parsed && error) *error = (seen ? "pelta-sim ended before it listened: " : "no listening line in 10 s: ") + output_;
    lock.unlock();
    tcpPort_ = parsed ? (int)tcp : -1;
    udpPort_ = parsed ? (int)udp : -1;
    if (!parsed) Stop();
    return parsed;
}

void SimProcess::ReaderLoop(int fd) {
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {  // 0: the child is gone
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        std::lock_guard<std::mutex> lock(mutex_);
        output_.append(buffer, (size_t)n);
        if (output_.size() > kOutputLimit) output_.erase(0, output_.size() - kOutputLimit / 2);
        changed_.notify_all();
    }
    close(fd);
    std::lock_guard<std::mutex> lock(mutex_);
    readerDone_ = true;
    changed_.notify_all();
}

bool SimProcess::ReapChild(int waitMs) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!reaped_) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_)
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
        reaped_ = r == pid_ || (r < 0 && errno != EINTR);  // or not our child any more
        if (!reaped_ && std::chrono::steady_clock::now() >= deadline) return false;
        if (!reaped_) usleep(10000);
    }
    return true;
}

void SimProcess::Stop() {
    std::unique_lock<std::mutex> reapLock(reapMutex_);
    if (pid_ > 0 && !ReapChild(0)) {
        kill(pid_, SIGTERM);
        if (!ReapChild(kStopTimeoutMs)) kill(pid_, SIGKILL), ReapChild(kStopTimeoutMs);
    }
    reapLock.unlock();
    if (reader_.joinable()) reader_.join();
}

int SimProcess::ExitCode() const {
    std::lock_guard<std::mutex> lock(reapMutex_);
    return pid_ > 0 && ReapChild(0) ? exitCode_ : -1;
}

std::string SimProcess::Output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

bool SimProcess::WaitForOutput(const std::string& needle, int timeoutMs, size_t from) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return from <= output_.size() && output_.find(needle, from) != std::string::npos;
    });
}
