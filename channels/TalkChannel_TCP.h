// TCP client channel to one unit (Modbus TCP), with bounded blocking calls and a Shutdown
// that another thread may call to end a blocked call.
#pragma once
#include <atomic>
#include <mutex>
#include "channels/TalkChannel.h"

// Send and receive time-out of every channel socket.
const int kChannelSocketTimeoutMs = 5000;
// Port used when an address names no port.
const int kModbusTcpPort = 502;

class TalkChannel_TCP : public TalkChannel {
public:
    // timeoutMs: send and receive time-out of the socket (tests shorten it).
    TalkChannel_TCP(TalkChannelExtI* owner, const char* name, int timeoutMs = kChannelSocketTimeoutMs);
    // Releases a socket still held (the owner normally closes first); logs nothing.
    ~TalkChannel_TCP() override;

    bool Open() override;
    bool Connect(const SString& address) override;
    bool Close() override;
    bool Shutdown() override;
    bool Send(const void* data, int size) override;
    bool Receive(void* buffer, int size, int* received, bool* end) override;
    bool IsOpened() override { return socket_.load(std::memory_order_relaxed) != -1; }
    // The Windows Sockets code of the last failure; a call that ended because of Shutdown
    // reads as "Interrupted function call".
    int LastError() override;
    void ReportError(const char* what, int code, const char* detail = nullptr,
                     const char* hint = nullptr) override;

    int Socket() const { return socket_.load(std::memory_order_relaxed); }
    bool IsShut() const { return shut_.load(); }
    int TimeoutMs() const { return timeoutMs_; }

protected:
    // Sets SO_SNDTIMEO and SO_RCVTIMEO of fd to the channel's time-out.
    bool SetTimeouts(int fd);
    // Settles one receive call: a call woken by Shutdown counts as interrupted, a time-out as
    // success with nothing received. Sets end on a zero-byte result; returns success.
    bool SettleReceive(int& result, int& error, bool* end) const;

    std::atomic<int> socket_{-1};
    std::atomic<bool> shut_{false};
    int timeoutMs_;
    // Serialises Shutdown against Close so shutdown() never meets a closed, reused descriptor.
    std::mutex closeLock_;
};

// Splits "host" or "host:port" at the last colon; the port is the leading decimal digits
// after it (0 when there are none) and kModbusTcpPort without a colon.
void SplitHostPort(const char* address, SString* host, int* port);
