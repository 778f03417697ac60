#include "channels/TalkChannel.h"
#include <cerrno>
#include <cstdio>
#include "base/Messages.h"

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
