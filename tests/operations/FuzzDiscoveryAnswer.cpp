// libFuzzer entry for the answer side of discovery. The input is a run of datagrams, each a
// length byte and that many bytes (length 255: a 300-byte datagram of the following byte),
// which a loopback socket sends to the broadcast channel before phase one runs; phase one then
// takes them through the channel and the Modbus transaction and builds its records. The
// channel sends its request nowhere (no interface) and its socket does not block, so an empty
// queue reads as the receive time-out and ends the phase.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "operations/OperationRunner.h"

namespace {
const size_t kMaxDatagrams = 16;
const uint8_t kOversizeMark = 255;
const size_t kOversize = 300;
const size_t kAnswerBytes = 27;

class NullUi : public RunnerUiI {
public:
    time_t LogAdd(const SString& text, uint32_t, bool, int) override { return (time_t)text.Length(); }
    void LogInsert(const SString&, uint32_t, bool, int) override {}
    void LogClear(bool) override {}
    void ProgressSet(int64_t, int64_t, bool) override {}
    void RunStateChanged(bool) override {}
    void SessionInputs(SString&, SString&) override {}
    void VersionShow(const SString&) override {}
    void GuiLockRelease() override {}
    void GuiLockAcquire() override {}
};

class SilentChannel : public TalkChannel_UDPBroadcast {
public:
    explicit SilentChannel(TalkChannelExtI* owner) : TalkChannel_UDPBroadcast("", owner) {}

protected:
    ifi_entry* Interfaces(int* count) override
    {
        *count = 0;
        return nullptr;
    }
};

volatile uint32_t g_sink;

OperationRunner& Runner()
{
    static NullUi ui;
    static OperationRunner* runner = [] {
        OperationRunner* r = new OperationRunner(&ui);
        r->FlagsSet(RunFlags::Running, true);
        return r;
    }();
    return *runner;
}

// Binds the channel's socket to a loopback port of its own and makes it non-blocking.
bool Aim(int fd, sockaddr_in* to)
{
    memset(to, 0, sizeof *to);
    to->sin_family = AF_INET;
    to->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof *to;
    return bind(fd, (sockaddr*)to, sizeof *to) == 0 && getsockname(fd, (sockaddr*)to, &len) == 0 &&
           fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    OperationRunner& runner = Runner();
    // One channel for every input: phase one empties its queue before it ends.
    static SilentChannel channel(&runner);
    static sockaddr_in to;
    static const bool ready = sender >= 0 && channel.Open() && Aim(channel.Socket(), &to);
    if (!ready)
        return 0;
    size_t sent = 0, longEnough = 0;
    uint8_t big[kOversize];
    for (size_t at = 0; at < size && sent < kMaxDatagrams; ++sent) {
        size_t length = data[at++];
        const uint8_t* bytes = data + at;
        if (length == kOversizeMark) {
            memset(big, at < size ? data[at] : 0, sizeof big);
            bytes = big;
            length = sizeof big;
            at += 1;
        } else {
            length = length < size - at ? length : size - at;
            at += length;
        }
        if (sendto(sender, bytes, length, 0, (sockaddr*)&to, sizeof to) == (ssize_t)length && length >= kAnswerBytes)
            ++longEnough;
    }

    DevAddress address;
    MODBUS_TalkInfo talk;
    talk.channel = &channel;
    talk.device = &address;
    talk.attempts = 1;
    talk.quiet = true;
    talk.timeouts.readWindowSec = 0;
    talk.timeouts.pollWaitMs = 0;
    talk.timeouts.drainQuietSec = 0;
    talk.timeouts.retryWaitMs = 0;
    Quill::List<DFIND_DevInfo> units;
    bool duplicate = runner.DFIND_Collect(talk, channel, units);

    // Only a whole answer makes a record, every record came from this host, and a second one
    // from it is a duplicate.
    if ((size_t)units.Count() > longEnough || duplicate != (units.Count() > 1))
        __builtin_trap();
    uint32_t sum = 0;
    for (int32_t i = 0; i < units.Count(); ++i) {
        const DFIND_DevInfo* unit = units.GetAt(i);
        if (unit->row != i || !(unit->ipConnect == "127.0.0.1") || unit->mac.Length() != 17 || unit->ip.Length() < 7)
            __builtin_trap();
        sum += unit->ip.Length() + (uint32_t)unit->mac.Text()[0];
    }
    g_sink = g_sink + sum;
    return 0;
}
