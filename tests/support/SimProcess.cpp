#include "tests/support/SimProcess.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
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
const int kKillTimeoutMs = 5000;
const int kReapPollMs = 10;
const int kReaderPollMs = 100;
// Verbose runs of long benchmarks print tens of megabytes; keep the newest part only.
const size_t kOutputLimit = 64u << 20;

std::string Dirname(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace

SimProcess::SimProcess(std::vector<std::string> extraArgs) : extraArgs_(std::move(extraArgs)) {}

SimProcess::~SimProcess() { Stop(); }

std::string SimProcess::BinaryPath() {
    const char* explicitPath = getenv("PELTA_SIM");
    if (explicitPath && *explicitPath) return explicitPath;
    const char* binDir = getenv("PELTA_BIN_DIR");
    if (binDir && *binDir) return std::string(binDir) + "/pelta-sim";
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "pelta-sim";
    self[n] = 0;
    return Dirname(self) + "/pelta-sim";
}

bool SimProcess::Start(std::string* error) {
    Stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        output_.clear();
        readerDone_ = false;
    }
    tcpPort_ = udpPort_ = -1;

    std::vector<std::string> args = launcher_;
    args.push_back(BinaryPath());
    for (const char* a : {"--listen", "127.0.0.1", "--port", "0", "--udp-port", "0"})
        args.push_back(a);
    args.insert(args.end(), extraArgs_.begin(), extraArgs_.end());
    // Everything the child touches between fork and exec is prepared here: only
    // async-signal-safe calls are allowed there in a threaded parent.
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        if (error) *error = std::string("pipe: ") + strerror(errno);
        return false;
    }
    pid_t pid = fork();
    if (pid < 0) {
        if (error) *error = std::string("fork: ") + strerror(errno);
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        dup2(fds[1], STDERR_FILENO);
        execv(argv[0], argv.data());
        const char msg[] = "SimProcess: exec failed\n";
        ssize_t ignored = write(STDERR_FILENO, msg, sizeof msg - 1);
        (void)ignored;
        _exit(127);
    }
    close(fds[1]);
    {
        std::lock_guard<std::mutex> reapLock(reapMutex_);
        pid_ = pid;
        reaped_ = false;
    }
    reader_ = std::thread(&SimProcess::ReaderLoop, this, fds[0]);

    std::unique_lock<std::mutex> lock(mutex_);
    bool seen = changed_.wait_for(lock, std::chrono::milliseconds(kStartTimeoutMs), [this] {
        return output_.find(ListeningMarker()) != std::string::npos || readerDone_;
    });
    bool parsed = seen && ParseListening(output_);
    lock.unlock();
    if (parsed) return true;

    if (error) {
        *error = seen ? "pelta-sim ended before it listened: " + Output()
                      : "no listening line from pelta-sim within 10 s: " + Output();
    }
    Stop();
    return false;
}

bool SimProcess::ParseListening(const std::string& text) {
    size_t at = text.find(ListeningMarker());
    if (at == std::string::npos) return false;
    unsigned a, b, c, d, tcp, e, f, g, h, udp;
    if (sscanf(text.c_str() + at, "pelta-sim: listening tcp %u.%u.%u.%u:%u udp %u.%u.%u.%u:%u", &a,
               &b, &c, &d, &tcp, &e, &f, &g, &h, &udp) != 10)
        return false;
    tcpPort_ = (int)tcp;
    udpPort_ = (int)udp;
    return true;
}

void SimProcess::ReaderLoop(int fd) {
    char buffer[4096];
    for (;;) {
        pollfd p = {fd, POLLIN, 0};
        int ready = poll(&p, 1, kReaderPollMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        if (ready == 0) continue;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;   // every writer (the child) is gone
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
    if (reaped_) return true;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status)
                                          : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
            reaped_ = true;
            return true;
        }
        if (r < 0 && errno != EINTR) {   // not our child any more: nothing to wait for
            reaped_ = true;
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        usleep(kReapPollMs * 1000);
    }
}

void SimProcess::Stop() {
    std::unique_lock<std::mutex> reapLock(reapMutex_);
    if (pid_ > 0 && !ReapChild(0)) {
        kill(pid_, SIGTERM);
        if (!ReapChild(kStopTimeoutMs)) {
            kill(pid_, SIGKILL);
            ReapChild(kKillTimeoutMs);
        }
    }
    reapLock.unlock();
    if (reader_.joinable()) reader_.join();
}

int SimProcess::ExitCode() const {
    std::lock_guard<std::mutex> lock(reapMutex_);
    if (pid_ <= 0) return -1;
    ReapChild(0);
    return reaped_ ? exitCode_ : -1;
}

std::string SimProcess::HostPort() const { return "127.0.0.1:" + std::to_string(tcpPort_); }

std::string SimProcess::Output() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
}

bool SimProcess::WaitForOutput(const std::string& needle, int timeoutMs) {
    return WaitForOutput(needle, timeoutMs, 0);
}

bool SimProcess::WaitForOutput(const std::string& needle, int timeoutMs, size_t from) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return from <= output_.size() && output_.find(needle, from) != std::string::npos;
    });
}
