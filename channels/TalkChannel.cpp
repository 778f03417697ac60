// The channel base: its log lines and traffic dump, and the socket error texts it reports.
#include "channels/TalkChannel.h"
#include <cerrno>
#include <cstdio>
#include "base/Messages.h"
#include "channels/SocketError.h"

TalkChannel::TalkChannel(TalkChannelExtI* owner, const char* name) : owner_(owner), name_(name ? name : "")
{
}

TalkChannel::~TalkChannel() = default;

bool TalkChannel::Connect(const SString&)
{
    return true;
}

int TalkChannel::LastError()
{
    return errno;
}

void TalkChannel::Log(const char* text, int32_t length, bool withName, int style)
{
    SString message;
    if (withName && !name_.IsEmpty()) {
        message.Append(name_);
        message.Append(": ", 2);
    }
    message.Append(text ? text : "", text ? length : 0);
    owner_->LogMessage(message, style, LogModeLine);
}

void TalkChannel::TrafficLog(const void* data, int count, bool outgoing)
{
    if (!data) count = 0;
    if (count < 0) {
        SString text = owner_->MessageText(outgoing ? "--> ERROR" : "<-- ERROR");
        Log(text.Text(), (int32_t)text.Length(), true, kStyleStep);
        return;
    }
    char number[16];
    snprintf(number, sizeof number, "%d", count);
    SString head = owner_->MessageText(outgoing ? "--> ^0 bytes" : "<-- ^0 bytes", number);
    if (count != 0) head.Append(':');
    Log(head.Text(), (int32_t)head.Length(), true, kStyleTrafficHead);

    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    char line[kDumpBytesPerLine * 3 + 1];
    for (int at = 0; at < count; at += kDumpBytesPerLine) {
        int n = 0;
        for (int i = 0; i < kDumpBytesPerLine; i++) {
            if (at + i < count) {
                line[n++] = HexDigit(bytes[at + i] >> 4);
                line[n++] = HexDigit(bytes[at + i] & 0x0F);
                line[n++] = ' ';
            } else {
                line[n++] = ' ';
                line[n++] = ' ';
                line[n++] = ' ';
            }
        }
        Log(line, kDumpLineWidth, false, kStyleHexDump);
    }
}

// Socket error codes and their texts.

namespace {

struct CodeText {
    int code;
    const char* text;
};

const CodeText kSocketErrorTexts[] = {
    {10004, "Interrupted function call"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Resource temporarily unavailable"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on nonsocket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Protocol wrong type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Cannot assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection on reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Cannot send after socket shutdown"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10064, "Host is down"},
    {10065, "No route to host"},
    {10067, "Too many processes"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Winsock.dll version out of range"},
    {10093, "Successful WSAStartup not yet performed"},
    {10101, "Graceful shutdown in progress"},
    {10109, "Class type not found"},
    {11001, "Host not found"},
    {11002, "Nonauthoritative host not found"},
    {11003, "This is a nonrecoverable error"},
    {11004, "Valid name, no data record of requested type"},
};

struct ErrnoCode {
    int err;
    int code;
};

// Sockets here block with SO_RCVTIMEO/SO_SNDTIMEO, so EAGAIN always means a time-out.
const ErrnoCode kErrnoCodes[] = {
    {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},    {EAGAIN, 10060},       {EHOSTUNREACH, 10065},
    {ENETUNREACH, 10051},  {ENETDOWN, 10050},     {ECONNRESET, 10054},   {EPIPE, 10058},
    {ESHUTDOWN, 10058},    {ENOTCONN, 10057},     {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},
    {EACCES, 10013},       {EINTR, 10004},        {EINVAL, 10022},       {EMSGSIZE, 10040},
    {EBADF, 10038},        {ENOTSOCK, 10038},     {ECONNABORTED, 10053}, {EHOSTDOWN, 10064},
    {EMFILE, 10024},       {ENOBUFS, 10055},      {EISCONN, 10056},      {EALREADY, 10037},
    {EINPROGRESS, 10036},  {EFAULT, 10014},       {EDESTADDRREQ, 10039}, {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},   {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047}, {ENETRESET, 10052},
#if EWOULDBLOCK != EAGAIN
    {EWOULDBLOCK, 10060},
#endif
};

} // namespace

const char* SocketErrorText(int code)
{
    for (const CodeText& row : kSocketErrorTexts)
        if (row.code == code) return row.text;
    return "Unknown ERROR";
}

int SocketErrorFromErrno(int err)
{
    for (const ErrnoCode& row : kErrnoCodes)
        if (row.err == err) return row.code;
    return err;
}
