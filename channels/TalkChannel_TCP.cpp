#include "channels/TalkChannel_TCP.h"
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include "channels/SocketError.h"

TalkChannel_TCP::TalkChannel_TCP(TalkChannelExtI* owner, const char* name, int timeoutMs)
    : TalkChannel(owner, name), timeoutMs_(timeoutMs)
{
}

TalkChannel_TCP::~TalkChannel_TCP()
{
    int fd = socket_.exchange(-1);
    if (fd != -1) close(fd);
}

int TalkChannel_TCP::LastError()
{
    if (shut_.load()) return kWsaInterrupted;
    return SocketErrorFromErrno(errno);
}

void TalkChannel_TCP::ReportError(const char* what, int code, const char* detail, const char* hint)
{
    SString line = owner_->MessageText(what);
    line.Append(": '", 3);
    line.Append(owner_->MessageText(detail ? detail : SocketErrorText(code)));
    line.Append('\'');
    if (hint) {
        line.Append(". ", 2);
        line.Append(owner_->MessageText(hint));
        line.Append('.');
    }
    Log(line.Text(), (int32_t)line.Length(), true, kStyleError);
}

bool TalkChannel_TCP::SetTimeouts(int fd)
{
    timeval tv;
    tv.tv_sec = timeoutMs_ / 1000;
    tv.tv_usec = (timeoutMs_ % 1000) * 1000;
    return setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0 &&
           setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool TalkChannel_TCP::Open()
{
    if (IsOpened()) return false;
    shut_.store(false);
    DropReceived();
    aheadErrno_ = 0;
    Log(owner_->MessageText("Open TCP socket").Text(), -1, true, kStyleStep);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd == -1 || !SetTimeouts(fd)) {
        int code = SocketErrorFromErrno(errno);
        if (fd != -1) close(fd);
        socket_.store(-1);
        ReportError("TCP socket open error", code);
        return false;
    }
    socket_.store(fd);
    return true;
}

void SplitHostPort(const char* address, SString* host, int* port)
{
    const char* colon = strrchr(address, ':');
    if (!colon) {
        host->Assign(address);
        *port = kModbusTcpPort;
        return;
    }
    host->Assign(address, (int32_t)(colon - address));
    int value = 0;
    for (const char* p = colon + 1; *p >= '0' && *p <= '9' && value <= 0xFFFFF; p++)
        value = value * 10 + (*p - '0');
    *port = value;
}

bool TalkChannel_TCP::Connect(const SString& address)
{
    if (!IsOpened()) {
        ReportError("Connection error", LastError(), "Channel not opened");
        return false;
    }
    SString host;
    int port;
    SplitHostPort(address.Text(), &host, &port);
    Log(owner_->MessageText("Connecting to '^0'", address.Text()).Text(), -1, true, kStyleStep);

    sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons((uint16_t)port);
    to.sin_addr.s_addr = inet_addr(host.Text());
    int code = 0;
    if (to.sin_addr.s_addr == INADDR_NONE) {
        // Not a dotted address (names are not resolved): refuse as the Windows stack does,
        // without ever putting the all-ones address on the wire.
        code = kWsaAddrNotAvail;
    } else if (connect(Socket(), reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        // A blocking connect cut short by SO_SNDTIMEO reports EINPROGRESS on Linux.
        code = errno == EINPROGRESS ? kWsaTimedOut : LastError();
        if (shut_.load()) code = kWsaInterrupted;
    }
    if (code != 0) {
        ReportError("Connection error", code);
        return false;
    }
    return true;
}

bool TalkChannel_TCP::Send(const void* data, int size)
{
    if (!IsOpened()) {
        ReportError("Sending error", LastError(), "Socket not opened");
        return false;
    }
    if (owner_->IsTalkLog()) TrafficLog(data, size, true);
    ssize_t sent = send(Socket(), data, size > 0 ? (size_t)size : 0, MSG_NOSIGNAL);
    if (sent < 0 || shut_.load()) {
        ReportError("Sending error", LastError());
        return false;
    }
    if (sent != size) {
        ReportError("Sending error", LastError(), "Not all data was send");
        return false;
    }
    return true;
}

bool TalkChannel_TCP::SettleReceive(int& result, int& error, bool* end) const
{
    if (shut_.load()) {
        // Woken by Shutdown: whatever the call returned, it was interrupted.
        result = -1;
        error = kWsaInterrupted;
    }
    *end = result == 0;
    if (result < 0 && error == kWsaTimedOut) {
        result = 0;
        return true;
    }
    return result >= 0;
}

// Reading an answer in its exact pieces costs a system call per piece; reading ahead up to a
// full answer makes it one per answer on loopback. The pieces handed out stay those a socket
// would give: held bytes are served first, and when they do not cover the call the socket is
// asked for the rest without waiting (it would have returned what it had at once).
int TalkChannel_TCP::ReceiveAhead(uint8_t* buffer, int size)
{
    if (size <= 0) return (int)recv(Socket(), buffer, 0, 0);
    if (aheadCount_ >= size) {
        memcpy(buffer, ahead_ + aheadStart_, (size_t)size);
        aheadStart_ += size;
        aheadCount_ -= size;
        return size;
    }
    const int held = aheadCount_;
    if (held == 0 && aheadErrno_ != 0) {
        errno = aheadErrno_;
        aheadErrno_ = 0;
        return -1;
    }
    memcpy(buffer, ahead_ + aheadStart_, (size_t)held);
    aheadStart_ = 0;
    aheadCount_ = 0;
    const int flags = held > 0 ? MSG_DONTWAIT : 0;
    ssize_t n;
    if (size >= kChannelReceiveAhead) {
        n = recv(Socket(), buffer + held, (size_t)(size - held), flags);
    } else {
        n = recv(Socket(), ahead_, sizeof ahead_, flags);
        if (n > 0) {
            int take = (int)n < size - held ? (int)n : size - held;
            memcpy(buffer + held, ahead_, (size_t)take);
            aheadStart_ = take;
            aheadCount_ = (int)n - take;
            n = take;
        }
    }
    if (held == 0) return (int)n;
    if (n > 0) return held + (int)n;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) aheadErrno_ = errno;
    // An end of stream met while bytes were held shows again at the next call.
    return held;
}

void TalkChannel_TCP::DropReceived()
{
    aheadStart_ = 0;
    aheadCount_ = 0;
}

bool TalkChannel_TCP::Receive(void* buffer, int size, int* received, bool* end)
{
    *received = -1;
    *end = false;
    if (!IsOpened()) {
        ReportError("Receiving error", 0, "Socket not opened");
        return false;
    }
    int result = ReceiveAhead(static_cast<uint8_t*>(buffer), size);
    int error = result < 0 ? LastError() : 0;
    bool ok = SettleReceive(result, error, end);
    // After Shutdown every call fails; what was read ahead is of no use any more.
    if (shut_.load()) DropReceived();
    *received = result;
    if (owner_->IsTalkLog()) TrafficLog(buffer, result, false);
    if (!ok) {
        ReportError("Receiving error", error);
        return false;
    }
    return true;
}

bool TalkChannel_TCP::Shutdown()
{
    if (!IsOpened() || shut_.load()) return true;
    Log(owner_->MessageText("Shutdown/close socket").Text(), -1, true, kStyleStep);
    int code = 0;
    {
        std::lock_guard<std::mutex> lock(closeLock_);
        int fd = Socket();
        if (fd == -1) return true;
        // shut is set first so the call that shutdown() wakes already sees it. An unconnected
        // socket answers ENOTCONN but is woken all the same.
        shut_.store(true);
        if (shutdown(fd, SHUT_RDWR) != 0 && errno != ENOTCONN) code = SocketErrorFromErrno(errno);
    }
    // Reported outside the lock: the owner's log may wait for the thread that runs Close.
    if (code != 0) {
        ReportError("Socket shutdown/close error", code);
        return false;
    }
    return true;
}

bool TalkChannel_TCP::Close()
{
    if (!IsOpened()) return true;
    DropReceived();
    aheadErrno_ = 0;
    std::unique_lock<std::mutex> lock(closeLock_);
    if (shut_.load()) {
        int fd = socket_.exchange(-1);
        if (fd != -1) close(fd);
        return true;
    }
    // The owner's log may wait for the thread that calls Shutdown, so no line under the lock.
    lock.unlock();
    Log(owner_->MessageText("Close socket").Text(), -1, true, kStyleStep);
    int code = 0;
    {
        std::lock_guard<std::mutex> relock(closeLock_);
        int fd = socket_.exchange(-1);
        if (fd == -1) return true;
        shut_.store(true);
        shutdown(fd, SHUT_RDWR);
        if (close(fd) != 0) code = SocketErrorFromErrno(errno);
    }
    if (code != 0) {
        ReportError("Socket close error", code);
        return false;
    }
    return true;
}
