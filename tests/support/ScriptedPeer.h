// A TCP peer on 127.0.0.1 (ephemeral port) that plays one script per accepted connection and keeps
// every difference from it (wrong or unexpected bytes, a missing connection) as a problem text.
// Also the byte and loopback socket helpers the socket tests share.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <netinet/in.h>
#include <sys/socket.h>

using Bytes = std::vector<uint8_t>;

// "00 7B 0A" -> bytes.
Bytes Hex(const char* text);
Bytes Concat(std::initializer_list<Bytes> parts);
// bytes -> "00 7B 0A " (each byte followed by a blank).
std::string HexText(const uint8_t* data, size_t size);
// A socket of the given type (SOCK_STREAM ones listen) bound to address and *port (0: the
// system picks one, which *port then holds); -1 on failure.
int BindLoopback(int type, int* port, const char* address = "127.0.0.1");
// Polls every 5 ms until done() holds, at most timeoutMs; done() at the end.
template <typename Done> bool WaitUntil(Done done, int timeoutMs)
{
    for (int waited = 0; !done() && waited < timeoutMs; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
}

struct PeerStep {
    enum Kind { Expect, Send, Delay, Close, Reset } kind;
    Bytes bytes;
    int ms = 0;
};
inline PeerStep ExpectBytes(Bytes b) { return {PeerStep::Expect, std::move(b)}; }
inline PeerStep SendBytes(Bytes b) { return {PeerStep::Send, std::move(b)}; }
inline PeerStep DelayMs(int ms) { return {PeerStep::Delay, {}, ms}; }
inline PeerStep CloseConnection() { return {PeerStep::Close, {}}; }
// Close with SO_LINGER 0: the client sees a reset instead of an orderly end.
inline PeerStep ResetConnection() { return {PeerStep::Reset, {}}; }

class ScriptedPeer {
public:
    using Script = std::vector<PeerStep>;
    explicit ScriptedPeer(std::vector<Script> connections) : scripts_(std::move(connections)) {}
    ~ScriptedPeer();

    bool Start();
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
    // Waits (at most timeoutMs) until every script has run and its client has gone.
    bool Finish(int timeoutMs = 20000) { return WaitUntil([this] { return done_.load(); }, timeoutMs); }
    std::vector<std::string> Problems();

private:
    void Run();
    void RunScript(int fd, size_t index);
    // Waits for fd to be readable while the peer runs; false after timeoutMs or on stop.
    bool Readable(int fd, int timeoutMs);
    void Problem(const std::string& text);

    std::vector<Script> scripts_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    std::vector<std::string> problems_;
};
