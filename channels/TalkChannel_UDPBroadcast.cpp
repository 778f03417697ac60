// The host's IPv4 interfaces (from getifaddrs) and the broadcast channel that sends on them.
#include "channels/TalkChannel_UDPBroadcast.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include "channels/SocketError.h"

static_assert(IFF_BROADCAST == kIfiBroadcast, "interface broadcast flag");
static_assert(sizeof(ifi_entry) == 16, "one interface entry is 16 bytes");

ifi_entry MakeIfiEntry(uint32_t flags, uint32_t address, uint32_t netmask)
{
    return ifi_entry{flags, address, netmask, address | ~netmask};
}

ifi_entry* get_ifi_info(int* count)
{
    *count = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return nullptr;
    int n = 0;
    for (ifaddrs* it = list; it; it = it->ifa_next)
        if (it->ifa_addr && it->ifa_addr->sa_family == AF_INET) n++;
    ifi_entry* entries = nullptr;
    if (n > 0) {
        entries = static_cast<ifi_entry*>(malloc(sizeof(ifi_entry) * n));
        if (!entries) {
            errno = ENOMEM;
            perror("get_ifi_info: Out of memory");
            freeifaddrs(list);
            return nullptr;
        }
        int at = 0;
        for (ifaddrs* it = list; it && at < n; it = it->ifa_next) {
            if (!it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
            uint32_t address = reinterpret_cast<sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr;
            uint32_t mask = it->ifa_netmask
                                ? reinterpret_cast<sockaddr_in*>(it->ifa_netmask)->sin_addr.s_addr
                                : 0xFFFFFFFFu;
            entries[at++] = MakeIfiEntry(it->ifa_flags, address, mask);
        }
        *count = at;
    }
    freeifaddrs(list);
    return entries;
}

char* IPv4ToText(uint32_t address, char* buffer, size_t size)
{
    if (!buffer || size == 0) return nullptr;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&address);
    int n = snprintf(buffer, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return n > 0 ? buffer : nullptr;
}

TalkChannel_UDPBroadcast::TalkChannel_UDPBroadcast(const char* name, TalkChannelExtI* owner, int timeoutMs)
    : TalkChannel_TCP(owner, name, timeoutMs)
{
    memset(receiveBuffer_, 0, sizeof receiveBuffer_);
}

TalkChannel_UDPBroadcast::TalkChannel_UDPBroadcast(TalkChannelExtI* owner, const char* name, int timeoutMs)
    : TalkChannel_UDPBroadcast(name, owner, timeoutMs)
{
}

bool TalkChannel_UDPBroadcast::Open()
{
    if (IsOpened()) return false;
    shut_.store(false);
    Log(owner_->MessageText("Open UDP socket").Text(), -1, true, kStyleStep);
    requestSent_ = false;
    datagramHeld_ = false;
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    int on = 1;
    if (fd == -1 || !SetTimeouts(fd) || setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        int code = SocketErrorFromErrno(errno);
        if (fd != -1) close(fd);
        socket_.store(-1);
        ReportError("UDP socket open error", code);
        return false;
    }
    socket_.store(fd);
    return true;
}

bool TalkChannel_UDPBroadcast::Connect(const SString&)
{
    return true;
}

ifi_entry* TalkChannel_UDPBroadcast::Interfaces(int* count)
{
    return get_ifi_info(count);
}

bool TalkChannel_UDPBroadcast::SendTo(uint32_t broadcast, const void* data, int size, const char** detail,
                                      int* code)
{
    sockaddr_in to;
    memset(&to, 0, sizeof to);
    to.sin_family = AF_INET;
    to.sin_port = htons(destinationPort_);
    to.sin_addr.s_addr = broadcast;
    ssize_t sent = sendto(Socket(), data, size > 0 ? (size_t)size : 0, MSG_NOSIGNAL,
                          reinterpret_cast<sockaddr*>(&to), sizeof to);
    if (sent < 0 || shut_.load()) {
        *code = LastError();
        *detail = nullptr;
        ReportError("Sending error", *code);
        return false;
    }
    if (sent != size) {
        *code = LastError();
        *detail = "Not all data was send";
        ReportError("Sending error", *code, *detail);
        return false;
    }
    return true;
}

bool TalkChannel_UDPBroadcast::Send(const void* data, int size)
{
    if (requestSent_) return true;
    if (!IsOpened()) {
        ReportError("Sending error", LastError(), "Socket not opened");
        return false;
    }
    int count = 0;
    ifi_entry* list = Interfaces(&count);
    owner_->LogMessage(owner_->MessageText("Send to broadcast addresses:"), kStyleStep, LogModeLine);
    char text[20];
    for (int i = 0; i < count; i++) {
        if (!(list[i].flags & kIfiBroadcast) || !IPv4ToText(list[i].broadcast, text, sizeof text)) continue;
        SString line("\t\t", 2);
        line.Append(text);
        owner_->LogMessage(line, kStyleStep, (int)(LogModeLine | kLogNoTime));
    }
    if (owner_->IsTalkLog()) TrafficLog(data, size, true);

    bool attempted = false, anySent = false;
    const char* lastDetail = nullptr;
    int lastCode = 0;
    for (int i = 0; i < count; i++) {
        if (!(list[i].flags & kIfiBroadcast)) continue;
        attempted = true;
        if (SendTo(list[i].broadcast, data, size, &lastDetail, &lastCode)) anySent = true;
    }
    free(list);
    if (attempted && !anySent) {
        ReportError("Sending error", lastCode, lastDetail);
        return false;
    }
    requestSent_ = true;
    return true;
}

bool TalkChannel_UDPBroadcast::Receive(void* buffer, int size, int* received, bool* end)
{
    *received = -1;
    *end = false;
    if (!IsOpened()) {
        ReportError("Receiving error", 0, "Socket not opened");
        return false;
    }
    if (!datagramHeld_) {
        sockaddr_in from;
        memset(&from, 0, sizeof from);
        socklen_t fromLength = sizeof from;
        // MSG_TRUNC makes the kernel report a datagram's full length, so an oversize one is
        // refused rather than cut silently.
        int result = (int)recvfrom(Socket(), receiveBuffer_, sizeof receiveBuffer_, MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
        int error = result < 0 ? LastError() : 0;
        if (result > kUdpReceiveBufferSize) {
            result = -1;
            error = kWsaMessageTooLong;
        }
        bool ok = SettleReceive(result, error, end);
        datagramHeld_ = true;
        heldCount_ = result;
        senderAddress_ = from.sin_addr.s_addr;
        if (owner_->IsTalkLog()) TrafficLog(receiveBuffer_, result, false);
        if (!ok) {
            ReportError("Receiving error", error);
            return false;
        }
    }
    int n = size < heldCount_ ? size : heldCount_;
    if (n <= 0) {
        *end = true;
        *received = 0;
        return true;
    }
    memcpy(buffer, receiveBuffer_, (size_t)n);
    memmove(receiveBuffer_, receiveBuffer_ + n, (size_t)(heldCount_ - n));
    heldCount_ -= n;
    *received = n;
    return true;
}
