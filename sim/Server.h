// The simulator's main loop: accepts Modbus TCP clients (one thread each), answers discovery
// datagrams, reboots the unit on request (every connection dropped, the port closed for the
// reboot delay) and stops cleanly on SIGINT or SIGTERM.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <memory>
#include <mutex>
#include <string>

#include "sim/Connection.h"
#include "sim/Discovery.h"
#include "sim/SimOptions.h"

const size_t kMaxConnections = 64;

class Server : public ConnectionHost {
public:
    Server(const SimConfig& config, Unit& unit, Faults& faults, StateStore* store);
    ~Server() override;

    // Binds both sockets and prints the listening line. Must run before any other thread exists.
    bool Open(std::string* error);
    // Serves until a stop signal; returns the exit code.
    int Run();

    void RequestReboot() override;
    bool WaitUnlessDropped(uint64_t epoch, uint32_t ms) override;
    void ConnectionEnded() override;

private:
    using Clock = std::chrono::steady_clock;

    bool OpenListener(std::string* error);
    void PrintListening() const;
    void Accept();
    void Reap(bool all);
    void DropConnections();
    void BeginReboot();
    bool FinishReboot();
    void Wake();

    const SimConfig& config_;
    Unit& unit_;
    Faults& faults_;
    StateStore* store_;
    DiscoveryResponder discovery_;
    int listenFd_ = -1;
    int signalFd_ = -1;
    int wakeFd_ = -1;
    uint16_t tcpPort_ = 0;
    std::list<std::unique_ptr<Connection>> connections_;   // main thread only
    std::mutex epochMutex_;
    std::condition_variable epochChanged_;
    uint64_t epoch_ = 0;
    std::atomic<bool> rebootRequested_{false};
    bool rebooting_ = false;
    Clock::time_point rebootEnds_;
    int rebindAttempts_ = 0;
};
