// The channel base and the TCP channel: dump and error lines, the socket error texts, address
// parsing, and the results and lines of open, connect, send, close and shutdown.
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
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
    const struct { int count; bool out; Lines lines; } dumps[] = {
        {10, true, {"1|U: --> 10 bytes:", "3|00 1A FF 03 00 00 00 06", "3|01 02                  "}},
        {8, false, {"1|U: <-- 8 bytes:", "3|00 1A FF 03 00 00 00 06"}},
        {0, false, {"1|U: <-- 0 bytes"}},
        {-1, true, {"0|U: --> ERROR"}},
        {-1, false, {"0|U: <-- ERROR"}},
    };
    for (const auto& d : dumps) {
        RecordingOwner owner;
        TalkChannel_TCP(&owner, "U").TrafficLog(data, d.count, d.out);
        EXPECT_EQ(owner.Styled(), d.lines) << d.count << " bytes";
    }
    RecordingOwner owner;
    TalkChannel_TCP unnamed(&owner, ""), named(&owner, "Dev");
    unnamed.TrafficLog(nullptr, 5, true);   // no data counts as nothing
    named.Log("abcdef", 2, false, kStyleError);
    named.ReportError("Sending error", 10061, "Not all data was send");
    named.ReportError("Connection error", 10061, nullptr, "Check the cable");
    named.ReportError("Receiving error", 12345);
    EXPECT_EQ(owner.Styled(), (Lines{"1|--> 0 bytes", "4|ab", "4|Dev: Sending error: 'Not all data was send'",
                                     "4|Dev: Connection error: 'Connection refused'. Check the cable.",
                                     "4|Dev: Receiving error: 'Unknown ERROR'"}));
}

// What the user reads for each errno a socket call may end with.
TEST(SocketErrors, TextOfEveryErrno)
{
    const struct { int err; const char* text; } cases[] = {
        {ECONNREFUSED, "Connection refused"}, {ETIMEDOUT, "Connection timed out"}, {EAGAIN, "Connection timed out"},
        {EWOULDBLOCK, "Connection timed out"}, {EHOSTUNREACH, "No route to host"},
        {ENETUNREACH, "Network is unreachable"}, {ENETDOWN, "Network is down"}, {ECONNRESET, "Connection reset by peer"},
        {EPIPE, "Cannot send after socket shutdown"}, {ESHUTDOWN, "Cannot send after socket shutdown"},
        {ENOTCONN, "Socket is not connected"}, {EADDRINUSE, "Address already in use"},
        {EADDRNOTAVAIL, "Cannot assign requested address"}, {EACCES, "Permission denied"},
        {EINTR, "Interrupted function call"}, {EINVAL, "Invalid argument"}, {EMSGSIZE, "Message too long"},
        {EBADF, "Socket operation on nonsocket"}, {ENOTSOCK, "Socket operation on nonsocket"},
        {ECONNABORTED, "Software caused connection abort"}, {EHOSTDOWN, "Host is down"},
        {EMFILE, "Too many open files"}, {ENOBUFS, "No buffer space available"},
        {EISCONN, "Socket is already connected"}, {EALREADY, "Operation already in progress"},
        {EINPROGRESS, "Operation now in progress"}, {EFAULT, "Bad address"},
        {EDESTADDRREQ, "Destination address required"}, {EPROTOTYPE, "Protocol wrong type for socket"},
        {ENOPROTOOPT, "Bad protocol option"}, {EPROTONOSUPPORT, "Protocol not supported"},
        {ESOCKTNOSUPPORT, "Socket type not supported"}, {EOPNOTSUPP, "Operation not supported"},
        {EPFNOSUPPORT, "Protocol family not supported"},
        {EAFNOSUPPORT, "Address family not supported by protocol family"},
        {ENETRESET, "Network dropped connection on reset"}, {ENOENT, "Unknown ERROR"},
    };
    for (const auto& c : cases) EXPECT_STREQ(SocketErrorText(SocketErrorFromErrno(c.err)), c.text) << c.err;
    EXPECT_EQ(SocketErrorFromErrno(ENOENT), ENOENT);
    EXPECT_STREQ(SocketErrorText(11004), "Valid name, no data record of requested type");
}

TEST(SplitHostPort, LastColonAndLeadingDigits)
{
    const struct { const char* address; const char* host; int port; } cases[] = {
        {"192.168.0.10", "192.168.0.10", 502}, {"192.168.0.10:1502", "192.168.0.10", 1502}, {"a:b:503", "a:b", 503},
        {"10.0.0.1:", "10.0.0.1", 0}, {"10.0.0.1:80x", "10.0.0.1", 80}, {"", "", 502}};
    for (const auto& c : cases) {
        SString host;
        int port = -7;
        SplitHostPort(c.address, &host, &port);
        EXPECT_STREQ(host.Text(), c.host) << c.address;
        EXPECT_EQ(port, c.port) << c.address;
    }
}

TEST(TcpChannel, FailuresOfEveryCallAndTheirLines)
{
    RecordingOwner owner;
    TalkChannel_TCP ch(&owner, "", 200);
    uint8_t b[4] = {1, 2, 3, 4};
    int got = 5;
    bool end = true;
    EXPECT_FALSE(ch.Connect("127.0.0.1"));
    EXPECT_FALSE(ch.Send(b, 4));
    EXPECT_FALSE(ch.Receive(b, 4, &got, &end));
    EXPECT_EQ(got, -1);
    EXPECT_FALSE(end);
    EXPECT_TRUE(ch.Close());
    EXPECT_TRUE(ch.Shutdown());
    ASSERT_TRUE(ch.Open());
    EXPECT_FALSE(ch.Open());
    int port = 0;
    close(BindLoopback(SOCK_STREAM, &port));   // nobody listens there any more
    const std::string refused = "127.0.0.1:" + std::to_string(port);
    EXPECT_FALSE(ch.Connect(refused.c_str()));
    EXPECT_FALSE(ch.Connect("localhost"));   // names are not resolved
    // A listener that never accepts: the connection completes in its backlog, nobody reads, and
    // a send far larger than both socket buffers goes out in part before the send time-out.
    int listener = BindLoopback(SOCK_STREAM, &(port = 0));
    const std::string silent = "127.0.0.1:" + std::to_string(port);
    ASSERT_TRUE(ch.Connect(silent.c_str()));
    Bytes huge(64u << 20, 0xA5);
    EXPECT_FALSE(ch.Send(huge.data(), (int)huge.size()));
    EXPECT_TRUE(ch.Close());
    EXPECT_FALSE(ch.IsOpened());
    close(listener);
    EXPECT_EQ(owner.Styled(), (Lines{"4|Connection error: 'Channel not opened'", "4|Sending error: 'Socket not opened'",
                                     "4|Receiving error: 'Socket not opened'", "0|Open TCP socket",
                                     "0|Connecting to '" + refused + "'", "4|Connection error: 'Connection refused'",
                                     "0|Connecting to 'localhost'",
                                     "4|Connection error: 'Cannot assign requested address'",
                                     "0|Connecting to '" + silent + "'", "4|Sending error: 'Not all data was send'",
                                     "0|Close socket"}));
}

TEST(Channels, OpenWithoutAFreeDescriptorAndSocketsOfDestroyedChannels)
{
    RecordingOwner owner;
    TalkChannel_TCP tcp(&owner, "T");
    TalkChannel_UDPBroadcast udp(&owner, "U");
    rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = (rlim_t)dup(0);   // the lowest free descriptor: the next socket() fails
    close((int)tight.rlim_cur);
    setrlimit(RLIMIT_NOFILE, &tight);
    EXPECT_FALSE(tcp.Open());
    EXPECT_FALSE(udp.Open());
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_FALSE(tcp.IsOpened() || udp.IsOpened());
    EXPECT_EQ(owner.Styled(), (Lines{"0|T: Open TCP socket", "4|T: TCP socket open error: 'Too many open files'",
                                     "0|U: Open UDP socket", "4|U: UDP socket open error: 'Too many open files'"}));
    int fd = -1;
    {
        TalkChannel_TCP left(&owner, "");
        ASSERT_TRUE(left.Open());
        fd = left.Socket();
    }
    EXPECT_EQ(fcntl(fd, F_GETFD), -1) << "the destroyed channel's socket is still open";
}

// Shutdown from another thread at varying moments of a receive loop: the loop ends at once
// with "Interrupted function call" (the socket's own time-out is 5 s); Close then closes
// without a line of its own, and the channel opens again.
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
            for (int i = 0; i < 100 && ch.Receive(b, sizeof b, &got, &end);) i++;
            return got;
        });
        // Not a wait for anything: the moment of the shutdown, from before the first call on.
        std::this_thread::sleep_for(std::chrono::microseconds(round * 1000));
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_TRUE(ch.Shutdown());
        ASSERT_EQ(loop.wait_for(std::chrono::seconds(4)), std::future_status::ready);
        EXPECT_EQ(loop.get(), -1);
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.5);
        EXPECT_TRUE(ch.Shutdown());   // a second one does nothing
        uint8_t one = 1;
        if (&ch == &tcp) {   // (a broadcast channel would send on the host's interfaces)
            EXPECT_FALSE(ch.Send(&one, 1));
        }
        EXPECT_TRUE(ch.IsOpened());   // the socket stays until Close
        EXPECT_TRUE(ch.Close());
        Lines want = {"0|Shutdown/close socket", "4|Receiving error: 'Interrupted function call'"};
        if (&ch == &tcp) want.push_back("4|Sending error: 'Interrupted function call'");
        EXPECT_EQ(owner.Styled(), want);
        ASSERT_TRUE(ch.Open());
        EXPECT_FALSE(ch.IsShut());
        EXPECT_TRUE(ch.Close());
        EXPECT_EQ(owner.Styled().back(), "0|Close socket");
    }
}

} // namespace
