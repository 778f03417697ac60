// The channel base and the TCP channel: dump lines, the socket error texts, address parsing,
// and the results and lines of open, connect, send, close and shutdown.
#include <cerrno>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <unistd.h>
#include "channels/SocketError.h"
#include "channels/TalkChannel_TCP.h"
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
                  ENOPROTOOPT, EPROTONOSUPPORT, ESOCKTNOSUPPORT, EOPNOTSUPP, EPFNOSUPPORT, EAFNOSUPPORT, ENETRESET})
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
                     "Address family not supported by protocol family, Network dropped connection on reset, ");
    EXPECT_EQ(SocketErrorFromErrno(ENOENT), ENOENT);
    EXPECT_STREQ(SocketErrorText(ENOENT), "Unknown ERROR");
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

// Every call on a channel that is not open, connects that fail, a send that goes out in part,
// the dump of a named channel, and the socket of a destroyed channel.
TEST(TcpChannel, FailuresOfEveryCallAndTheirLines)
{
    RecordingOwner owner;
    TalkChannel_TCP ch(&owner, "", 200);
    uint8_t b[10] = {0x00, 0x1A, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x06, 0x01, 0x02};
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

// Shutdown from another thread at varying moments of a receive loop: the loop ends at once with
// "Interrupted function call"; Close then closes without a line of its own, and the channel opens again.
TEST(ChannelShutdown, EndsABlockedReceiveAtOnce)
{
    for (int round = 0; round < 20; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        ScriptedPeer peer(ScriptedPeer::SilentConnection());
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

} // namespace
