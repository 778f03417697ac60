// The channel base, the TCP channel (open, connect, send, close, shutdown, its read-ahead) and the UDP
// broadcast channel on loopback addresses, so that its datagrams stay on 127.0.0.0/8.
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>
#include "channels/SocketError.h"
#include "channels/TalkChannel_TCP.h"
#include "channels/TalkChannel_UDPBroadcast.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/ScriptedPeer.h"

namespace {

using Lines = std::vector<std::string>;

// What the user reads for each errno a socket call may end with; host[:port] split at the last colon.
TEST(ChannelTexts, SocketErrorsAndAddresses)
{
    std::string texts;
    for (int e : {ECONNREFUSED, ETIMEDOUT, EAGAIN, EHOSTUNREACH, ENETDOWN, ENETUNREACH, ECONNRESET, EPIPE, ESHUTDOWN,
                  ENOTCONN, EADDRINUSE, EADDRNOTAVAIL, EACCES, EINVAL, EINTR, EMSGSIZE, EBADF, ENOTSOCK, ECONNABORTED,
                  EHOSTDOWN, EMFILE, ENOBUFS, EISCONN, EALREADY, EFAULT, EINPROGRESS, EDESTADDRREQ, EPROTOTYPE,
                  ENOPROTOOPT, EPROTONOSUPPORT, ESOCKTNOSUPPORT, EOPNOTSUPP, EPFNOSUPPORT, EAFNOSUPPORT, ENETRESET,
                  ENOENT})
        texts += std::string(SocketErrorText(SocketErrorFromErrno(e))) + ", ";
    EXPECT_EQ(texts, "Connection refused, Connection timed out, Connection timed out, No route to host, Network is "
                     "down, Network is unreachable, Connection reset by peer, Cannot send after socket shutdown, "
                     "Cannot send after socket shutdown, Socket is not connected, Address already in use, Cannot "
                     "assign requested address, Permission denied, Invalid argument, Interrupted function call, "
                     "Message too long, Socket operation on nonsocket, Socket operation on nonsocket, Software caused "
                     "connection abort, Host is down, Too many open files, No buffer space available, Socket is "
                     "already connected, Operation already in progress, Bad address, Operation now in progress, "
                     "Destination address required, Protocol wrong type for socket, Bad protocol option, Protocol not "
                     "supported, Socket type not supported, Operation not supported, Protocol family not supported, "
                     "Address family not supported by protocol family, Network dropped connection on reset, "
                     "Unknown ERROR, ");
    EXPECT_STREQ(SocketErrorText(11004), "Valid name, no data record of requested type");
    std::string split;
    for (const char* address : {"192.168.0.10", "192.168.0.10:1502", "a:b:503", "10.0.0.1:", "10.0.0.1:80x", ""}) {
        SString host;
        int port = -7;
        SplitHostPort(address, &host, &port);
        split += std::string(host.Text()) + " " + std::to_string(port) + ", ";
    }
    EXPECT_EQ(split, "192.168.0.10 502, 192.168.0.10 1502, a:b 503, 10.0.0.1 0, 10.0.0.1 80,  502, ");
}

// Every call on a channel that is not open, failed connects and sends, dumps, a destroyed channel's socket.
TEST(TcpChannel, FailuresOfEveryCallAndTheirLines)
{
    RecordingOwner owner;
    TalkChannel_TCP ch(&owner, "", 200);
    uint8_t b[10] = {0x00, 0x1A, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x06, 0x01, 0x02};
    int got = 5, port = 0;
    bool end = true;
    EXPECT_FALSE(ch.Connect("127.0.0.1") || ch.Send(b, 4) || ch.Receive(b, 4, &got, &end) || end || got != -1);
    EXPECT_TRUE(ch.Close() && ch.Shutdown() && ch.Open() && !ch.Open());
    close(BindLoopback(SOCK_STREAM, &port));   // nobody listens there any more
    const std::string refused = "127.0.0.1:" + std::to_string(port);
    EXPECT_FALSE(ch.Connect(refused.c_str()) || ch.Connect("localhost"));   // names are not resolved
    // A listener that never accepts: the connection completes in its backlog, nobody reads, and
    // a send far larger than both socket buffers goes out in part before the send time-out.
    int listener = BindLoopback(SOCK_STREAM, &(port = 0));
    const std::string silent = "127.0.0.1:" + std::to_string(port);
    Bytes huge(64u << 20, 0xA5);
    EXPECT_TRUE(ch.Connect(silent.c_str()) && !ch.Send(huge.data(), (int)huge.size()) && ch.Close() && !ch.IsOpened());
    close(listener);
    TalkChannel_TCP named(&owner, "Dev");
    named.TrafficLog(b, 10, true);
    named.TrafficLog(b, -1, false);
    ch.TrafficLog(nullptr, 5, true);   // no data counts as nothing
    named.Log("abcdef", 2, false, kStyleError);
    EXPECT_EQ(owner.Styled(), (Lines{"4|Connection error: 'Channel not opened'", "4|Sending error: 'Socket not opened'",
                                     "4|Receiving error: 'Socket not opened'", "0|Open TCP socket",
                                     "0|Connecting to '" + refused + "'", "4|Connection error: 'Connection refused'",
                                     "0|Connecting to 'localhost'",
                                     "4|Connection error: 'Cannot assign requested address'",
                                     "0|Connecting to '" + silent + "'", "4|Sending error: 'Not all data was send'",
                                     "0|Close socket", "1|Dev: --> 10 bytes:", "3|00 1A FF 03 00 00 00 06",
                                     "3|01 02                  ", "0|Dev: <-- ERROR", "1|--> 0 bytes", "4|ab"}));
    int fd = -1;
    if (TalkChannel_TCP left(&owner, ""); left.Open()) fd = left.Socket();
    EXPECT_TRUE(fd != -1 && fcntl(fd, F_GETFD) == -1) << "the destroyed channel's socket is still open";
}

// Shutdown from another thread at varying moments of a receive loop ends it at once.
TEST(ChannelShutdown, EndsABlockedReceiveAtOnce)
{
    for (int round = 0; round < 20; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        ScriptedPeer peer(std::vector<ScriptedPeer::Script>(1));   // silent until the client goes
        RecordingOwner owner;
        TalkChannel_TCP ch(&owner, "");
        ASSERT_TRUE(peer.Start() && ch.Open() && ch.Connect(peer.HostPort().c_str()));
        owner.Clear();
        uint8_t b[4];
        auto loop = std::async(std::launch::async, [&ch, &b] {
            int got = 0;
            bool end = false;
            for (int i = 0; i < 100; i++)
                if (!ch.Receive(b, sizeof b, &got, &end)) return got;
            return 0;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(round * 1000));   // the moment, not a wait
        EXPECT_TRUE(ch.Shutdown());
        ASSERT_EQ(loop.wait_for(std::chrono::seconds(4)), std::future_status::ready);   // the time-out: 5 s
        EXPECT_EQ(loop.get(), -1);
        EXPECT_TRUE(ch.Shutdown() && !ch.Send(b, 4) && ch.IsOpened() && ch.Close());
        EXPECT_TRUE(ch.Open() && !ch.IsShut() && ch.Close());
        EXPECT_EQ(owner.Styled(), (Lines{"0|Shutdown/close socket", "4|Receiving error: 'Interrupted function call'",
                                         "4|Sending error: 'Interrupted function call'", "0|Open TCP socket",
                                         "0|Close socket"}));
    }
}

// The reading without read-ahead: every Receive on the open channel is one receive call of at most size bytes.
struct OneCallChannel : TalkChannel_TCP {
    using TalkChannel_TCP::TalkChannel_TCP;
    bool Receive(void* buffer, int size, int* received, bool* end) override
    {
        int result = (int)recv(Socket(), buffer, size > 0 ? (size_t)size : 0, 0);
        int error = result < 0 ? LastError() : 0;
        bool ok = SettleReceive(result, error, end);
        *received = result;
        if (owner_->IsTalkLog()) TrafficLog(buffer, result, false);
        if (!ok) ReportError("Receiving error", error);
        return ok;
    }
};

// The bytes of an arrival: a Read File Record answer A (MBAP header, function code, 16 bytes of
// data), the next one B, or F: 300 bytes of anything; "A3-24" is A from byte 3 to byte 24.
Bytes Source(const std::string& token)
{
    static const Bytes a = Hex("00 7B 00 00 00 12 01 14 10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F");
    static const Bytes b = Hex("00 7C 00 00 00 12 01 14 20 21 22 23 24 25 26 27 28 29 2A 2B 2C 2D 2E 2F");
    Bytes f(300);
    for (size_t i = 0; i < f.size(); i++) f[i] = (uint8_t)(i * 7);
    const Bytes& all = token[0] == 'A' ? a : token[0] == 'B' ? b : f;
    return Bytes(all.begin() + std::stoi(token.substr(1)), all.begin() + std::stoi(token.substr(token.find('-') + 1)));
}

// What every call gave and logged, in order, for the steps: rN a receive of N bytes; A, B, F bytes
// that arrive (their taking in by the client's kernel acknowledged); e the peer ends, x it resets.
std::vector<std::string> Play(TalkChannel_TCP& ch, RecordingOwner& owner, const std::string& steps)
{
    int port = 0, listener = BindLoopback(SOCK_STREAM, &port);
    if (listener == -1 || !ch.Open() || !ch.Connect(("127.0.0.1:" + std::to_string(port)).c_str())) return {"set-up"};
    int peer = accept(listener, nullptr, nullptr), client = ch.Socket();
    close(listener);
    owner.Clear();   // the connect line names the port, which differs between runs
    owner.talkLog = true;
    std::vector<std::string> trace;
    auto delivered = [&peer] {
        return WaitUntil([&] { int q = -1; return ioctl(peer, SIOCOUTQ, &q) == 0 && q == 0; }, 10000);
    };
    std::istringstream in(steps);
    for (std::string s; in >> s;) {
        if (s[0] == 'A' || s[0] == 'B' || s[0] == 'F' || s == "e") {
            Bytes bytes = s == "e" ? Bytes() : Source(s);
            s == "e" ? shutdown(peer, SHUT_WR) : (int)send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (!delivered()) trace.push_back("not delivered");
        } else if (s == "x") {
            linger l{1, 0};
            setsockopt(peer, SOL_SOCKET, SO_LINGER, &l, sizeof l);
            close(peer);
            peer = -1;
            auto reset = [client] { pollfd p{client, 0, 0}; return poll(&p, 1, 0) == 1 && (p.revents & POLLERR); };
            if (!WaitUntil(reset, 10000)) trace.push_back("reset not seen");
        } else {
            uint8_t buffer[512];
            int got = 0;
            bool end = false, ok = ch.Receive(buffer, std::stoi(s.substr(1)), &got, &end);
            trace.push_back(s + ": ok " + std::to_string(ok) + " got " + std::to_string(got) + " end " +
                            std::to_string(end) + " [" + HexText(buffer, got > 0 ? (size_t)got : 0) + "]");
        }
    }
    ch.Close();
    if (peer != -1) close(peer);
    for (const std::string& line : owner.Styled()) trace.push_back("log " + line);
    return trace;
}

TEST(ReceiveAhead, SamePiecesAsOneReceiveCallPerPiece)
{
    const char* cases[][2] = {
        {"one segment", "A0-24 r7 r1 r16 r7"},
        {"byte by byte", "A0-1 r7 A1-2 r6 A2-7 r5 r1 A7-24 r1 r16"},
        {"delayed after a time-out", "r7 A0-24 r7 r1 r16"},
        {"closed mid-answer", "A0-3 e r7 r4 r4"},
        {"reset mid-answer", "A0-3 x r7 r4 r4"},
        {"answer and the next one's start", "A0-24 B0-3 r7 r1 r16 r7 B3-24 r4 r1 r16"},
        {"held bytes joined by newer ones", "A0-24 B0-3 r7 r1 r16 B3-13 r7 r17"},
        {"held bytes, then the peer ends", "A0-24 B0-3 e r7 r1 r16 r7 r7"},
        {"held bytes, then a reset", "A0-24 B0-3 r7 r1 r16 x r7 r7"},
        {"reads longer than the read-ahead", "F0-300 r300 F0-300 r7 r300 F0-100 r290"},
        {"garbage read in pieces of 64, then the next answer", "F0-100 r7 r64 r64 A0-24 r7 r1 r16"},
        {"garbage read in pieces, then the peer ends", "F0-150 e r7 r64 r64 r64 r7"},
        {"empty and negative sizes", "A0-24 r0 r-1 r7 r0 r17"},
    };
    for (const auto& c : cases) {
        RecordingOwner plainOwner, aheadOwner;
        OneCallChannel plain(&plainOwner, "U", 200);   // the socket time-out ends a receive that finds nothing
        TalkChannel_TCP ahead(&aheadOwner, "U", 200);
        std::vector<std::string> want = Play(plain, plainOwner, c[1]);
        EXPECT_GT(want.size(), 1u) << c[0];
        EXPECT_EQ(Play(ahead, aheadOwner, c[1]), want) << c[0];
    }
}

const std::string kNoTime = "0/" + std::to_string(LogModeLine | kLogNoTime) + "|\t\t";   // interface lines: no stamp
// Each interface's broadcast address is the address itself.
struct LoopbackUdpChannel : TalkChannel_UDPBroadcast {
    explicit LoopbackUdpChannel(TalkChannelExtI* owner) : TalkChannel_UDPBroadcast(owner, "", 200) {}
    ifi_entry* Interfaces(int* count) override
    {
        auto* list = static_cast<ifi_entry*>(malloc(sizeof(ifi_entry) * (interfaces.size() + 1)));
        for (*count = 0; *count < (int)interfaces.size(); ++*count)
            list[*count] = MakeIfiEntry(interfaces[*count].second, inet_addr(interfaces[*count].first), ~0u);
        return list;
    }
    using TalkChannel_UDPBroadcast::destinationPort_;
    std::vector<std::pair<const char*, uint32_t>> interfaces;   // address, flags
};

struct FakeUnit {
    FakeUnit(const char* address, int at) : port(at), fd(BindLoopback(SOCK_DGRAM, &port, address)) {}
    ~FakeUnit() { close(fd); }
    // The next datagram, taken without waiting (loopback delivers during sendto); empty if none.
    Bytes Take()
    {
        uint8_t b[512];
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(fd, b, sizeof b, MSG_DONTWAIT, (sockaddr*)&from, &len);
        return n < 0 ? Bytes{} : Bytes(b, b + n);
    }
    void Answer(const Bytes& data) { sendto(fd, data.data(), data.size(), 0, (const sockaddr*)&from, sizeof from); }
    int port, fd;
    sockaddr_in from{};
};

TEST(UdpChannel, BroadcastsOnceHandsOutAnswersInPiecesAndReportsFailures)
{
    FakeUnit u1("127.0.0.1", 0), u2("127.1.2.3", u1.port);
    if (u2.fd == -1) GTEST_SKIP() << "port taken on 127.1.2.3";
    RecordingOwner owner;
    LoopbackUdpChannel ch(&owner);
    ch.interfaces = {{"127.0.0.1", kIfiBroadcast}, {"127.0.0.3", 0}, {"127.1.2.3", kIfiBroadcast}};
    ch.destinationPort_ = (uint16_t)u1.port;
    const Bytes request = Hex("01 02");
    uint8_t b[300];
    int count = 0;
    bool end = false;
    EXPECT_FALSE(ch.Send(request.data(), 2) || ch.Receive(b, 4, &count, &end));
    owner.talkLog = true;
    ASSERT_TRUE(ch.Open() && ch.Send(request.data(), 2));
    EXPECT_TRUE(u1.Take() == request && u2.Take() == request && u1.Take().empty());
    EXPECT_EQ(owner.Styled(), (Lines{"4|Sending error: 'Socket not opened'", "4|Receiving error: 'Socket not opened'",
                                     "0|Open UDP socket", "0|Send to broadcast addresses:", kNoTime + "127.0.0.1",
                                     kNoTime + "127.1.2.3", "1|--> 2 bytes:", "3|01 02                  "}));
    owner.Clear();
    EXPECT_TRUE(ch.Send(request.data(), 2) && u1.Take().empty());   // the request is out: only listen now
    for (const Bytes& answer : {Bytes(20, 0x5A), Hex("0A 0B 0C"), Bytes(257, 0xAB), Bytes(256, 0xCD)})
        (answer.size() == 3 ? u2 : u1).Answer(answer);
    std::string reads;   // "c": ClearDatagramHeld first; then the size asked
    for (const char* r : {"7", "13", "5", "5", "c32", "c300", "300", "c300", "c300"}) {
        if (r[0] == 'c') ch.ClearDatagramHeld();
        count = -5;
        end = true;
        bool ok = ch.Receive(b, atoi(r + (r[0] == 'c')), &count, &end);
        reads += std::to_string(ok) + " " + std::to_string(count) + (end ? " end " : " ") +
                 inet_ntoa(in_addr{ch.SenderAddress()}) + ", ";
    }
    EXPECT_EQ(reads, "1 7 127.0.0.1, 1 13 127.0.0.1, 1 0 end 127.0.0.1, 1 0 end 127.0.0.1, 1 3 127.1.2.3, "
                     "0 -1 127.0.0.1, 1 0 end 127.0.0.1, 1 256 127.0.0.1, 1 0 end 0.0.0.0, ");
    EXPECT_EQ(b[255], 0xCD);
    Lines heads;   // each datagram is dumped once, when it is taken from the socket
    for (const std::string& line : owner.Styled())
        if (line[0] != '3') heads.push_back(line);
    EXPECT_EQ(heads, (Lines{"1|<-- 20 bytes:", "1|<-- 3 bytes:", "0|<-- ERROR",
                            "4|Receiving error: 'Message too long'", "1|<-- 256 bytes:", "1|<-- 0 bytes"}));
    // Port 0 is no valid destination: every send of a new search fails, and one more line sums it up.
    ch.interfaces = {{"127.0.0.1", kIfiBroadcast}, {"127.0.0.2", kIfiBroadcast}};
    ch.destinationPort_ = 0;
    owner.talkLog = false;
    owner.Clear();
    EXPECT_TRUE(ch.Close() && ch.Open() && ch.Connect("anything") && !ch.Send(b, 4) && !ch.IsRequestSent());
    const std::string invalid = "4|Sending error: 'Invalid argument'";
    EXPECT_EQ(owner.Styled(), (Lines{"0|Close socket", "0|Open UDP socket", "0|Send to broadcast addresses:",
                                     kNoTime + "127.0.0.1", kNoTime + "127.0.0.2", invalid, invalid, invalid}));
}

} // namespace
