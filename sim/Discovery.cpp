#include "sim/Discovery.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/ByteOrder.h"
#include "sim/SimLog.h"

namespace {
const size_t kDatagramBuffer = 512;
const int kDuplicateCopies = 2;

// The malformed datagrams of --fault-discovery-garbage, made from a well-formed discovery
// answer (MBAP, function 20, lengths, reference type, result 1, zero MAC and IP).
const size_t kAnswerSize = 27;
const size_t kShortSize = 5;
const size_t kOversizeSize = 300;   // beyond the 256 bytes a client takes
const size_t kFunctionAt = 7;
const size_t kResultAt = 11;
enum class Garbage { kEmpty, kShort, kOversize, kWrongFunction, kForeignTransaction, kResultZero };
const Garbage kGarbage[] = {Garbage::kEmpty, Garbage::kShort, Garbage::kOversize,
                            Garbage::kWrongFunction, Garbage::kForeignTransaction, Garbage::kResultZero};

size_t GarbageMake(Garbage kind, const uint8_t* request, uint8_t* out) {
    const uint8_t answer[kAnswerSize] = {request[0], request[1], 0, 0, 0, 21, request[6], 20, 18, 17, 6, 0, 1};
    memcpy(out, answer, kAnswerSize);
    switch (kind) {
    case Garbage::kEmpty: return 0;
    case Garbage::kShort: return kShortSize;
    case Garbage::kOversize: memset(out + kAnswerSize, 0x5A, kOversizeSize - kAnswerSize); return kOversizeSize;
    case Garbage::kWrongFunction: out[kFunctionAt]++; return kAnswerSize;
    case Garbage::kForeignTransaction: PutBe16(out, (uint16_t)(GetBe16(out) + 1)); return kAnswerSize;
    case Garbage::kResultZero: out[kResultAt + 1] = 0; return kAnswerSize;
    }
    return 0;
}
}  // namespace

DiscoveryResponder::DiscoveryResponder(Unit& unit, Faults& faults, StateStore* store, bool verbose)
    : faults_(faults), handler_(unit, faults, store, verbose), verbose_(verbose) {}

DiscoveryResponder::~DiscoveryResponder() {
    if (fd_ >= 0) close(fd_);
}

bool DiscoveryResponder::Open(uint32_t ip, int port, std::string* error) {
    fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int on = 1;
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(ip);
    a.sin_port = htons((uint16_t)port);
    socklen_t len = sizeof a;
    // The local address of each datagram is what discovery reports when no IP is configured.
    if (fd_ < 0 || setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        bind(fd_, (sockaddr*)&a, sizeof a) != 0 || getsockname(fd_, (sockaddr*)&a, &len) != 0) {
        char text[INET_ADDRSTRLEN];
        uint32_t n = htonl(ip);
        inet_ntop(AF_INET, &n, text, sizeof text);
        *error = std::string("cannot listen on udp ") + text + ":" + std::to_string(port) + ": " + strerror(errno);
        return false;
    }
    port_ = ntohs(a.sin_port);
    return true;
}

void DiscoveryResponder::Serve(bool ignore) {
    uint8_t in[kDatagramBuffer];
    uint8_t answer[kMaxAduSize];
    sockaddr_in from = {};
    iovec io = {in, sizeof in};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr m = {};
    m.msg_name = &from;
    m.msg_namelen = sizeof from;
    m.msg_iov = &io;
    m.msg_iovlen = 1;
    m.msg_control = control;
    m.msg_controllen = sizeof control;
    ssize_t n = recvmsg(fd_, &m, MSG_DONTWAIT);
    if (n <= 0 || ignore) return;

    char peer[INET_ADDRSTRLEN + 8];
    char fromText[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &from.sin_addr, fromText, sizeof fromText);
    snprintf(peer, sizeof peer, "%s:%u", fromText, ntohs(from.sin_port));
    size_t frameSize = 0;
    if ((m.msg_flags & MSG_TRUNC) || ScanFrame(in, (size_t)n, &frameSize) != FrameScan::kComplete ||
        frameSize != (size_t)n) {
        if (verbose_) SimLog("udp %s: %zd bytes that are no Modbus TCP frame, ignored", peer, n);
        return;
    }
    RequestContext context;
    context.peer = peer;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c))
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
            context.localIp = ntohl(((in_pktinfo*)CMSG_DATA(c))->ipi_spec_dst.s_addr);
    if (faults_.DiscoveryGarbage()) {
        uint8_t junk[kOversizeSize];
        for (Garbage g : kGarbage) sendto(fd_, junk, GarbageMake(g, in, junk), 0, (sockaddr*)&from, sizeof from);
    }
    RequestOutcome outcome = handler_.Handle(in, frameSize, answer, context);
    if (outcome.answerSize == 0) return;
    int copies = faults_.DuplicateDiscovery() ? kDuplicateCopies : 1;
    for (int i = 0; i < copies; ++i)
        sendto(fd_, answer, outcome.answerSize, 0, (sockaddr*)&from, sizeof from);
}
