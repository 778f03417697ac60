// Runs a server program as a child (here the independent Modbus server script), waits for
// its "listening <port>" line and stops it by its pid.
#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

class ChildServer {
public:
    explicit ChildServer(std::vector<std::string> argv) : argv_(std::move(argv)) {}
    ~ChildServer() { Stop(); }
    ChildServer(const ChildServer&) = delete;
    ChildServer& operator=(const ChildServer&) = delete;

    // Starts the child and waits at most timeoutMs for its listening line; *output gets what
    // it printed when that fails.
    bool Start(int timeoutMs, std::string* output);
    // SIGTERM, at most 5 s to go, then SIGKILL; reaps the child.
    void Stop();
    int Port() const { return port_; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    std::vector<std::string> argv_;
    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
};
