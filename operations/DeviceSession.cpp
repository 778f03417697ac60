// The device session: the one TCP channel of an operation, the host and password read when it
// opens, and the slot it lives in, which the abort path shares.
#include <cstdint>
#include <cstdlib>
#include <new>

#include "base/Messages.h"
#include "channels/TalkChannel_TCP.h"
#include "operations/OperationRunner.h"

namespace {
TalkChannel* TcpChannelMake(TalkChannelExtI* owner)
{
    return new (std::nothrow) TalkChannel_TCP(owner, "");
}
}  // namespace

int32_t DevicePasswordParse(const char* text)
{
    // strtol with base 0: "0x" hexadecimal, a leading "0" octal, else decimal. A number out of
    // range stops at the 32-bit limits, as it does where long has 32 bits; wrapping it instead
    // would send the unit a password nobody typed.
    long value = strtol(text ? text : "", nullptr, 0);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return (int32_t)value;
}

bool OperationRunner::ChannelDropLocked()
{
    if (!channel_)
        return true;
    bool closed = channel_->Close();
    delete channel_;
    channel_ = nullptr;
    return closed;
}

TalkChannel* OperationRunner::SessionChannelMake()
{
    return options_.channelFactory ? options_.channelFactory(this) : TcpChannelMake(this);
}

bool OperationRunner::TalkPhChannelsInit_th()
{
    // A channel left over from a failed operation goes first.
    ChannelLock();
    ChannelDropLocked();
    ChannelUnlock();

    SString host;
    SString password;
    ui_->SessionInputs(host, password);
    device_.host = host;
    devicePassword_ = DevicePasswordParse(password.Text());
    const SString address(device_.host);

    ChannelLock();
    channel_ = SessionChannelMake();
    bool opened = false;
    if (!channel_)
        DiagNoMem("GUIApp::TalkPhChannelsInit_th");
    else
        opened = channel_->Open();
    TalkChannel* channel = channel_;
    ChannelUnlock();

    // Connect runs outside the lock so that an abort can interrupt it. Only this thread
    // replaces or deletes the channel, so the pointer stays valid here.
    if (!opened || !channel)
        return false;
    return channel->Connect(address);
}

bool OperationRunner::TalkPhChannelsClose()
{
    ChannelLock();
    bool closed = ChannelDropLocked();
    ChannelUnlock();
    return closed;
}
