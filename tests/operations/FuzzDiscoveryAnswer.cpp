// libFuzzer entry for discovery's answers: datagrams, each a length byte and that many bytes
// (255: 300 bytes of the next byte), sent over loopback to the broadcast channel of phase one. Its
// request goes nowhere (no interface) and it does not block: an empty queue ends the phase.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "operations/OperationRunner.h"

namespace {
struct NullUi : RunnerUiI {
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

struct SilentChannel : TalkChannel_UDPBroadcast {
    explicit SilentChannel(TalkChannelExtI* owner) : TalkChannel_UDPBroadcast("", owner) {}
    ifi_entry* Interfaces(int* count) override { return *count = 0, nullptr; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static NullUi ui;
    static OperationRunner runner(&ui);
    static SilentChannel channel(&runner);  // phase one empties its queue before it ends
    static const int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    static sockaddr_in to = {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    static socklen_t length = sizeof to;
    static const bool ready = [] {
        runner.FlagsSet(RunFlags::Running, true);
        const int fd = channel.Open() ? channel.Socket() : -1;  // bound to a loopback port of its own
        return sender >= 0 && fd >= 0 && bind(fd, (sockaddr*)&to, length) == 0 &&
               getsockname(fd, (sockaddr*)&to, &length) == 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
    }();
    if (!ready)
        return 0;
    size_t sent = 0, whole = 0;  // whole: long enough to be an answer (27 bytes)
    uint8_t big[300];
    for (size_t at = 0; at < size && sent < 16; ++sent) {
        size_t n = data[at++];
        const uint8_t* bytes = data + at;
        if (n == 255) {
            memset(big, at < size ? data[at++] : 0, n = sizeof big);
            bytes = big;
        } else {
            at += n = std::min(n, size - at);
        }
        whole += sendto(sender, bytes, n, 0, (sockaddr*)&to, sizeof to) == (ssize_t)n && n >= 27;
    }
    DevAddress address;
    MODBUS_TalkInfo talk;
    talk.channel = &channel;
    talk.device = &address;
    talk.attempts = 1;
    talk.quiet = true;
    talk.timeouts = ModbusTimeouts{0, 0, 0, 0};
    Quill::List<DFIND_DevInfo> units;
    const bool duplicate = runner.DFIND_Collect(talk, channel, units);
    // Only a whole answer makes a record, every record came from this host, a second is a duplicate.
    bool sane = (size_t)units.Count() <= whole && duplicate == (units.Count() > 1);
    for (int32_t i = 0; i < units.Count(); ++i)
        sane = sane && units.GetAt(i)->row == i && units.GetAt(i)->ipConnect == "127.0.0.1" &&
               units.GetAt(i)->mac.Length() == 17 && units.GetAt(i)->ip.Length() >= 7;
    if (!sane)
        __builtin_trap();
    return 0;
}
