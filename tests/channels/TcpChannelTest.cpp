// The channel base and the TCP channel: dump and error lines, the socket error texts, address
// parsing, and the results and lines of open, connect, send, close and shutdown.
#include <cerrno>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include "channels/SocketError.h"
#include "channels/TalkChannel_UDPBroadcast.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/ScriptedPeer.h"

namespace {

using Lines = std::vector<std::string>;

TEST(ChannelLines, DumpsAndErrorReports)
{
    const uint8_t data[10] = {0x00, 0x1A, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x06, 0x01, 0x02};
    RecordingOwner owner;
    TalkChannel_TCP unnamed(&owner, ""), named(&owner, "Dev");
    named.TrafficLog(data, 10, true);
    named.TrafficLog(data, 8, false);
    named.TrafficLog(data, -1, true);
    named.TrafficLog(data, -1, false);
    unnamed.TrafficLog(nullptr, 5, true);   // no data counts as nothing
    named.Log("abcdef", 2, false, kStyleError);
    named.ReportError("Sending error", 10061, "Not all data was send");
    named.ReportError("Connection error", 10061, nullptr, "Check the cable");
    named.ReportError("Receiving error", 12345);
    EXPECT_EQ(owner.Styled(), (Lines{"1|Dev: --> 10 bytes:", "3|00 1A FF 03 00 00 00 06", "3|01 02                  ",
                                     "1|Dev: <-- 8 bytes:", "3|00 1A FF 03 00 00 00 06", "0|Dev: --> ERROR",
                                     "0|Dev: <-- ERROR", "1|--> 0 bytes", "4|ab",
                                     "4|Dev: Sending error: 'Not all data was send'",
                                     "4|Dev: Connection error: 'Connection refused'. Check the cable.",
                                     "4|Dev: Receiving error: 'Unknown ERROR'"}));
}

// What the user reads for each errno a socket call may end with.
TEST(SocketErrors, TextOfEveryErrno)
{
    const char* timedOut = "Connection timed out", *sendAfter = "Cannot send after socket shutdown";
    const struct { int err; const char* text; } cases[] = {{ECONNREFUSED, "Connection refused"}, {ETIMEDOUT, timedOut},
        {EAGAIN, timedOut}, {EWOULDBLOCK, timedOut}, {EHOSTUNREACH, "No route to host"}, {ENETDOWN, "Network is down"},
        {ENETUNREACH, "Network is unreachable"}, {ECONNRESET, "Connection reset by peer"}, {EPIPE, sendAfter},
        {ESHUTDOWN, sendAfter}, {ENOTCONN, "Socket is not connected"}, {EADDRINUSE, "Address already in use"},
        {EADDRNOTAVAIL, "Cannot assign requested address"}, {EACCES, "Permission denied"}, {EINVAL, "Invalid argument"},
        {EINTR, "Interrupted function call"}, {EMSGSIZE, "Message too long"}, {EBADF, "Socket operation on nonsocket"},
        {ENOTSOCK, "Socket operation on nonsocket"}, {ECONNABORTED, "Software caused connection abort"},
        {EHOSTDOWN, "Host is down"}, {EMFILE, "Too many open files"}, {ENOBUFS, "No buffer space available"},
        {EISCONN, "Socket is already connected"}, {EALREADY, "Operation already in progress"}, {EFAULT, "Bad address"},
        {EINPROGRESS, "Operation now in progress"}, {EDESTADDRREQ, "Destination address required"},
        {EPROTOTYPE, "Protocol wrong type for socket"}, {ENOPROTOOPT, "Bad protocol option"},
        {EPROTONOSUPPORT, "Protocol not supported"}, {ESOCKTNOSUPPORT, "Socket type not supported"},
        {EOPNOTSUPP, "Operation not supported"}, {EPFNOSUPPORT, "Protocol family not supported"},
        {EAFNOSUPPORT, "Address family not supported by protocol family"},
        {ENETRESET, "Network dropped connection on reset"}, {ENOENT, "Unknown ERROR"}};
    for (const auto& c : cases) EXPECT_STREQ(SocketErrorText(SocketErrorFromErrno(c.err)), c.text) << c.err;
    EXPECT_EQ(SocketErrorFromErrno(ENOENT), ENOENT);
    EXPECT_STREQ(SocketErrorText(11004), "Valid name, no data record of requested type");
}

TEST(SplitHostPort, LastColonAndLeadingDigits)
{
    const struct { const char* address; const char* host; int port; } cases[] = {{"192.168.0.10", "192.168.0.10", 502},
        {"192.168.0.10:1502", "192.168.0.10", 1502}, {"a:b:503", "a:b", 503}, {"10.0.0.1:", "10.0.0.1", 0},
        {"10.0.0.1:80x", "10.0.0.1", 80}, {"", "", 502}};
    for (const auto& c : cases) {
        SString host;
        int port = -7;
        SplitHostPort(c.address, &host, &port);
        EXPECT_EQ(std::string(host.Text()) + ":" + std::to_string(port), c.host + (":" + std::to_string(c.port)));
    }
}

TEST(TcpChannel, FailuresOfEveryCallAndTheirLines)
{
    RecordingOwner owner;
    TalkChannel_TCP ch(&owner, "", 200);
    uint8_t b[4] = {1, 2, 3, 4};
    int got = 5, port = 0;
    bool end = true;
    EXPECT_FALSE(ch.Connect("127.0.0.1") || ch.Send(b, 4) || ch.Receive(b, 4, &got, &end) || end || got != -1);
    EXPECT_TRUE(ch.Close() && ch.Shutdown() && ch.Open());
    EXPECT_FALSE(ch.Open());
    close(BindLoopback(SOCK_STREAM, &port));   // nobody listens there any more
    const std::string refused = "127.0.0.1:" + std::to_string(port);
    EXPECT_FALSE(ch.Connect(refused.c_str()));
    EXPECT_FALSE(ch.Connect("localhost"));   // names are not resolved
    // A listener that never accepts: the connection completes in its backlog, nobody reads, and
    // a send far larger than both socket buffers goes out in part before the send time-out.
    int listener = BindLoopback(SOCK_STREAM, &(port = 0));
    const std::string silent = "127.0.0.1:" + std::to_string(port);
    Bytes huge(64u << 20, 0xA5);
    EXPECT_TRUE(ch.Connect(silent.c_str()) && !ch.Send(huge.data(), (int)huge.size()) && ch.Close() && !ch.IsOpened());
    close(listener);
    EXPECT_EQ(owner.Styled(), (Lines{"4|Connection error: 'Channel not opened'", "4|Sending error: 'Socket not opened'",
                                     "4|Receiving error: 'Socket not opened'", "0|Open TCP socket",
                                     "0|Connecting to '" + refused + "'", "4|Connection error: 'Connection refused'",
                                     "0|Connecting to 'localhost'",
                                     "4|Connection error: 'Cannot assign requested address'",
                                     "0|Connecting to '" + silent + "'", "4|Sending error: 'Not all data was send'",
                                     "0|Close socket"}));
}

TEST(Channels, OpenWithoutAFreeDescriptorAndTheSocketOfADestroyedChannel)
{
    RecordingOwner owner;
    TalkChannel_TCP tcp(&owner, "T");
    TalkChannel_UDPBroadcast udp(&owner, "U");
    // Once with descriptors first: UBSan checks an object's type through a pipe at its first call.
    EXPECT_TRUE(tcp.Open() && tcp.Close() && udp.Open() && udp.Close());
    owner.Clear();
    rlimit saved, tight;
    getrlimit(RLIMIT_NOFILE, &saved);
    tight = saved;
    tight.rlim_cur = (rlim_t)dup(0);   // the lowest free descriptor: the next socket() fails
    close((int)tight.rlim_cur);
    setrlimit(RLIMIT_NOFILE, &tight);
    EXPECT_FALSE(tcp.Open() || udp.Open());
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_FALSE(tcp.IsOpened() || udp.IsOpened());
    EXPECT_EQ(owner.Styled(), (Lines{"0|T: Open TCP socket", "4|T: TCP socket open error: 'Too many open files'",
                                     "0|U: Open UDP socket", "4|U: UDP socket open error: 'Too many open files'"}));
    auto left = std::make_unique<TalkChannel_TCP>(&owner, "");
    ASSERT_TRUE(left->Open());
    const int fd = left->Socket();
    left.reset();
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "the destroyed channel's socket is still open";
}

// Shutdown from another thread at varying moments of a receive loop, on a TCP and on a UDP
// channel: the loop ends at once with "Interrupted function call" (the socket's own time-out is
// 5 s); Close then closes without a line of its own, and the channel opens again.
TEST(ChannelShutdown, EndsABlockedReceiveAtOnce)
{
    for (int round = 0; round < 20; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        ScriptedPeer peer(ScriptedPeer::SilentConnection());
        RecordingOwner owner;
        TalkChannel_TCP tcp(&owner, "");
        TalkChannel_UDPBroadcast udp(&owner, "");
        TalkChannel_TCP& ch = round % 2 ? udp : tcp;
        ASSERT_TRUE(peer.Start() && ch.Open() && ch.Connect(peer.HostPort().c_str()));
        owner.Clear();
        auto loop = std::async(std::launch::async, [&ch] {
            uint8_t b[4];
            int got = 0;
            bool end = false;
            for (int i = 0; i < 100; i++)
                if (!ch.Receive(b, sizeof b, &got, &end)) return got;
            return 0;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(round * 1000));   // the moment, not a wait
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_TRUE(ch.Shutdown());
        ASSERT_EQ(loop.wait_for(std::chrono::seconds(4)), std::future_status::ready);
        EXPECT_EQ(loop.get(), -1);
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(2500));
        uint8_t one = 1;   // (a broadcast channel's send would go to the host's interfaces)
        EXPECT_TRUE(ch.Shutdown() && (&ch == &udp || !ch.Send(&one, 1)) && ch.IsOpened() && ch.Close());
        Lines want = {"0|Shutdown/close socket", "4|Receiving error: 'Interrupted function call'"};
        if (&ch == &tcp) want.push_back("4|Sending error: 'Interrupted function call'");
        EXPECT_EQ(owner.Styled(), want);
        EXPECT_TRUE(ch.Open() && !ch.IsShut() && ch.Close());
        EXPECT_EQ(owner.Styled().back(), "0|Close socket");
    }
}

} // namespace
