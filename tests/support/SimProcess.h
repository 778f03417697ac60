// Test helper: runs pelta-sim as a child process on loopback with ports it chooses itself.
//
// The child is started as
//   <binary> --listen 127.0.0.1 --port 0 --udp-port 0 <extra arguments...>
// (later options win, so extra arguments may override these). Start() waits at most 10 s for
// the line the simulator prints once both sockets are bound:
//   pelta-sim: listening tcp 127.0.0.1:40123 udp 127.0.0.1:40124
// and takes both ports from it. stdout and stderr share one pipe that a background thread
// keeps draining, so verbose logging never blocks the child; Output() returns what came so far.
//
// Build: add ${PELTA_SUPPORT_DIR}/SimProcess.cpp to the test's sources and link Threads::Threads.
#pragma once
#include <sys/types.h>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> extraArgs = {});
    // The child runs as <launcher...> <binary> <arguments...>, e.g. {"/usr/sbin/ip", "netns",
    // "exec", "NAME"} (which execs the simulator, so the pid stays the simulator's). The
    // launcher's first word is an absolute path.
    void SetLauncher(std::vector<std::string> launcher) { launcher_ = std::move(launcher); }
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts the child and waits for its listening line. On failure the child is stopped,
    // *error (when given) says why, and Output() holds what the child printed.
    bool Start(std::string* error = nullptr);
    // SIGTERM, at most 5 s to exit, then SIGKILL. Safe to call twice or without Start.
    void Stop();
    // Exit status after the child ended (128 + signal for a signal); -1 while unknown.
    int ExitCode() const;
    int TcpPort() const { return tcpPort_; }
    int UdpPort() const { return udpPort_; }
    std::string HostPort() const;   // "127.0.0.1:<tcp>"
    pid_t Pid() const { return pid_; }
    std::string Output() const;
    // True once the output contains needle; false after timeoutMs without it.
    bool WaitForOutput(const std::string& needle, int timeoutMs);
    // The same, looking only at output from byte offset `from` on (e.g. a second listening
    // line after a reboot: from = Output().find("rebooting")).
    bool WaitForOutput(const std::string& needle, int timeoutMs, size_t from);

    // $PELTA_SIM when set, else $PELTA_BIN_DIR/pelta-sim, else pelta-sim beside this test binary.
    static std::string BinaryPath();
    // The first line of the simulator's output that announces its sockets.
    static const char* ListeningMarker() { return "pelta-sim: listening tcp "; }

private:
    void ReaderLoop(int fd);
    bool ReapChild(int waitMs) const;   // true once the child has been reaped
    bool ParseListening(const std::string& text);

    std::vector<std::string> extraArgs_;
    std::vector<std::string> launcher_;
    pid_t pid_ = -1;
    mutable bool reaped_ = true;
    mutable int exitCode_ = -1;
    int tcpPort_ = -1;
    int udpPort_ = -1;
    std::thread reader_;
    mutable std::mutex reapMutex_;   // pid bookkeeping between Stop and ExitCode
    mutable std::mutex mutex_;       // output and reader state
    std::condition_variable changed_;
    std::string output_;
    bool readerDone_ = false;
};
