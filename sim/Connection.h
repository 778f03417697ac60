// One Modbus TCP client connection, served on its own thread: reads frames (several may
// arrive in one read), answers each with one write, and carries out delay and close faults.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class Faults;
class StateStore;
class Unit;

// What a connection needs from the server that owns it.
class ConnectionHost {
public:
    virtual ~ConnectionHost() = default;
    // Called after the answer to a reboot command has been sent.
    virtual void RequestReboot() = 0;
    // Waits ms milliseconds or until the server drops the connections of this epoch;
    // true when they were dropped.
    virtual bool WaitUnlessDropped(uint64_t epoch, uint32_t ms) = 0;
    // Called last on the connection's thread.
    virtual void ConnectionEnded() = 0;
};

struct Connection {
    int fd = -1;                     // closed by the server after the thread has been joined
    std::string peer;                // "address:port" for log lines
    uint32_t localIp = 0;            // host order
    uint64_t epoch = 0;
    std::thread thread;
    std::atomic<bool> done{false};
    std::atomic<bool> dropped{false};  // set by the server before it shuts the socket down
};

// The connection thread's body.
void ServeConnection(Connection& connection, Unit& unit, Faults& faults, StateStore* store, bool verbose,
                     ConnectionHost& host);
