// pelta-sim as a child process: [launcher...] <binary> --listen 127.0.0.1 --port 0 --udp-port 0
// <extra arguments...> (later options win). Start() waits at most 10 s for its "listening tcp" line
// and takes the ports from it; a thread keeps draining stdout+stderr, so verbose logging never blocks.
// The binary: $PELTA_SIM, else $PELTA_BIN_DIR/pelta-sim, else pelta-sim beside the test.
#pragma once
#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> extraArgs = {}) : extraArgs_(std::move(extraArgs)) {}
    ~SimProcess() { Stop(); }
    // e.g. {"/usr/sbin/ip", "netns", "exec", "NAME"}, which execs the simulator (same pid).
    void SetLauncher(std::vector<std::string> launcher) { launcher_ = std::move(launcher); }
    // On failure the child is stopped and *error says why, with what it printed.
    bool Start(std::string* error = nullptr);
    // SIGTERM, at most 5 s to exit, then SIGKILL. Safe to call twice or without Start.
    void Stop();
    // Exit status once the child ended (128 + signal for a signal); -1 while unknown.
    int ExitCode() const;
    int TcpPort() const { return tcpPort_; }
    int UdpPort() const { return udpPort_; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(tcpPort_); }
    pid_t Pid() const { return pid_; }
    std::string Output() const;
    // True once the output from byte `from` on contains needle; false after timeoutMs.
    bool WaitForOutput(const std::string& needle, int timeoutMs, size_t from = 0);

private:
    void ReaderLoop(int fd);
    bool ReapChild(int waitMs) const;  // true once the child has been reaped

    std::vector<std::string> extraArgs_, launcher_;
    pid_t pid_ = -1;
    mutable bool reaped_ = true;
    mutable int exitCode_ = -1;
    int tcpPort_ = -1, udpPort_ = -1;
    std::thread reader_;
    mutable std::mutex reapMutex_;  // pid bookkeeping between Stop and ExitCode
    mutable std::mutex mutex_;      // output and reader state
    std::condition_variable changed_;
    std::string output_;
    bool readerDone_ = false;
};
