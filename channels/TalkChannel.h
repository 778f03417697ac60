// A byte pipe to the unit that reports every step and failure as a finished, translated
// log line through its owner, and dumps its traffic when the owner's talk log is on.
#pragma once
#include <cstdint>
#include "base/LogTypes.h"
#include "base/SString.h"

// Log styles the channel and Modbus layers use (the owner gives each its look).
enum ChannelLogStyle { kStyleStep = 0, kStyleTrafficHead = 1, kStyleHexDump = 3, kStyleError = 4 };
// Bytes per hex dump line and the width of that line ("00 1A FF ... " = 8 x 3 characters less one).
const int kDumpBytesPerLine = 8;
const int kDumpLineWidth = 23;

// What a channel's owner provides: the log, translation, the stop poll and the talk-log poll.
class TalkChannelExtI {
public:
    virtual ~TalkChannelExtI() = default;
    // mode: the log line mode; channels and Modbus always pass 0 (one time-stamped line).
    virtual void LogMessage(const SString& message, int style, int mode) = 0;
    // Tr(msgid) when all arguments are null, else TrArgs.
    virtual SString MessageText(const char* msgid, const char* a0 = nullptr, const char* a1 = nullptr,
                                const char* a2 = nullptr, const char* a3 = nullptr) = 0;
    virtual bool IsRunning() = 0;
    virtual bool IsTalkLog() = 0;
};

class TalkChannel {
public:
    TalkChannel(TalkChannelExtI* owner, const char* name);
    // Frees the name only; never closes the socket.
    virtual ~TalkChannel();

    virtual bool Open() = 0;
    virtual bool Connect(const SString& address);
    virtual bool Close() = 0;
    // Callable from another thread: makes a blocked Send/Receive return with a failure.
    virtual bool Shutdown() = 0;
    virtual bool Send(const void* data, int size) = 0;
    // One receive of at most size bytes. received is -1 before anything happens; a time-out
    // is success with received 0 and end false; end is true when the peer closed.
    virtual bool Receive(void* buffer, int size, int* received, bool* end) = 0;
    virtual bool IsOpened() = 0;
    virtual int LastError();
    // what, detail and hint are message identifiers; detail and hint may be null.
    virtual void ReportError(const char* what, int code, const char* detail = nullptr,
                             const char* hint = nullptr) = 0;

    // Forgets bytes received from the peer but not yet handed out by Receive (a drain ends
    // with this, so a garbled answer cannot leak into the next one). Channels without such
    // bytes do nothing.
    virtual void DropReceived() {}

    void Log(const char* text, int32_t length, bool withName, int style);
    void TrafficLog(const void* data, int count, bool outgoing);

    TalkChannelExtI* Owner() const { return owner_; }
    const SString& Name() const { return name_; }

protected:
    TalkChannelExtI* owner_;
    SString name_;
};
