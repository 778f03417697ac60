// TCP client channel to one unit (Modbus TCP), with bounded blocking calls and a Shutdown
// that another thread may call to end a blocked call.
#pragma once
#include <atomic>
#include <mutex>
#include "channels/TalkChannel.h"

// Send and receive time-out of every channel socket.
const int kChannelSocketTimeoutMs = 5000;
// Bytes a TCP channel reads ahead in one receive call: a full Modbus TCP answer (7-byte MBAP
// header and a 253-byte PDU).
const int kChannelReceiveAhead = 260;
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
    void DropReceived() override;
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

    // One receive call of at most size bytes as the socket would answer it, served from the
    // bytes read ahead while there are any. Returns the count, 0 at end of stream, or -1 with
    // errno set.
    int ReceiveAhead(uint8_t* buffer, int size);

    std::atomic<int> socket_{-1};
    std::atomic<bool> shut_{false};
    int timeoutMs_;
    // Serialises Shutdown against Close so shutdown() never meets a closed, reused descriptor.
    std::mutex closeLock_;

    // Read-ahead of the worker thread (never touched by Shutdown): bytes the socket gave
    // beyond what a Receive asked for, and an error it reported while bytes were still held,
    // kept for the call that finds the read-ahead empty, as the socket itself would order them.
    uint8_t ahead_[kChannelReceiveAhead];
    int aheadStart_ = 0;
    int aheadCount_ = 0;
    int aheadErrno_ = 0;
};

// Splits "host" or "host:port" at the last colon; the port is the leading decimal digits
// after it (0 when there are none) and kModbusTcpPort without a colon.
void SplitHostPort(const char* address, SString* host, int* port);
