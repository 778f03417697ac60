// TCP channel: message formats, the error table, connect/send/receive results and their
// lines against a scripted loopback peer.
#include <arpa/inet.h>
#include <cerrno>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include "channels/SocketError.h"
#include "channels/TalkChannel_TCP.h"
#include "channels/TalkChannel_UDPBroadcast.h"
#include "tests/channels/RecordingOwner.h"
#include "tests/channels/ScriptedPeer.h"

namespace {

const int kShortTimeoutMs = 200;

// A loopback port with nobody listening: bound once, then released.
int ClosedPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    bind(fd, (sockaddr*)&a, sizeof a);
    getsockname(fd, (sockaddr*)&a, &len);
    close(fd);
    return ntohs(a.sin_port);
}

struct DumpCase {
    int count;
    bool outgoing;
    std::vector<std::string> lines;
};

TEST(TrafficLog, HeaderAndDumpLines)
{
    const uint8_t data[16] = {0x00, 0x1A, 0xFF, 0x03, 0x00, 0x00, 0x00, 0x06,
                              0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    const DumpCase cases[] = {
        {10, true, {"1|U: --> 10 bytes:", "3|00 1A FF 03 00 00 00 06", "3|01 02                  "}},
        {16, false, {"1|U: <-- 16 bytes:", "3|00 1A FF 03 00 00 00 06", "3|01 02 03 04 05 06 07 08"}},
        {1, false, {"1|U: <-- 1 bytes:", "3|00                     "}},
        {0, false, {"1|U: <-- 0 bytes"}},
        {-1, true, {"0|U: --> ERROR"}},
        {-1, false, {"0|U: <-- ERROR"}},
    };
    for (const DumpCase& c : cases) {
        RecordingOwner owner;
        TalkChannel_TCP ch(&owner, "U");
        ch.TrafficLog(data, c.count, c.outgoing);
        EXPECT_EQ(owner.Styled(), c.lines) << "count " << c.count;
        for (const LoggedLine& l : owner.Lines())
            if (l.style == kStyleHexDump) {
                EXPECT_EQ(l.text.size(), (size_t)kDumpLineWidth);
            }
    }
    RecordingOwner owner;
    TalkChannel_TCP ch(&owner, "");
    ch.TrafficLog(nullptr, 5, true);   // no data counts as nothing
    EXPECT_EQ(owner.Styled(), std::vector<std::string>{"1|--> 0 bytes"});
}

TEST(ChannelLog, NamePrefixOnlyWhenAskedAndNotEmpty)
{
    RecordingOwner owner;
    TalkChannel_TCP named(&owner, "Unit");
    TalkChannel_TCP unnamed(&owner, "");
    named.Log("abc", -1, true, 0);
    named.Log("abcdef", 2, false, 4);
    unnamed.Log("xyz", -1, true, 0);
    EXPECT_EQ(owner.Styled(), (std::vector<std::string>{"0|Unit: abc", "4|ab", "0|xyz"}));
    for (const LoggedLine& l : owner.Lines()) EXPECT_EQ(l.mode, 0);
}

TEST(SocketErrors, TextsAndErrnoMapping)
{
    const struct {
        int code;
        const char* text;
    } texts[] = {{10004, "Interrupted function call"}, {10060, "Connection timed out"},
                 {10061, "Connection refused"},        {11004, "Valid name, no data record of requested type"},
                 {10047, "Address family not supported by protocol family"},
                 {10059, "Unknown ERROR"},             {0, "Unknown ERROR"}, {111, "Unknown ERROR"}};
    for (const auto& t : texts) EXPECT_STREQ(SocketErrorText(t.code), t.text) << t.code;

    const struct {
        int err;
        int code;
    } map[] = {{ECONNREFUSED, 10061}, {ETIMEDOUT, 10060}, {EAGAIN, 10060},  {EWOULDBLOCK, 10060},
               {ECONNRESET, 10054},   {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051}, {EPIPE, 10058},
               {ENOTCONN, 10057},     {EINTR, 10004},     {EMSGSIZE, 10040}, {EBADF, 10038},
               {EINPROGRESS, 10036},  {ENOENT, ENOENT}};
    for (const auto& m : map) EXPECT_EQ(SocketErrorFromErrno(m.err), m.code) << m.err;
}

TEST(SplitHostPort, LastColonAndLeadingDigits)
{
    const struct {
        const char* address;
        const char* host;
        int port;
    } cases[] = {{"192.168.0.10", "192.168.0.10", 502}, {"192.168.0.10:1502", "192.168.0.10", 1502},
                 {"a:b:503", "a:b", 503},               {"10.0.0.1:", "10.0.0.1", 0},
                 {"10.0.0.1:80x", "10.0.0.1", 80},      {"", "", 502}};
    for (const auto& c : cases) {
        SString host;
        int port = -7;
        SplitHostPort(c.address, &host, &port);
        EXPECT_STREQ(host.Text(), c.host) << c.address;
        EXPECT_EQ(port, c.port) << c.address;
    }
}

TEST(TcpChannel, OpenTwiceFailsSilently)
{
    RecordingOwner owner;
    TalkChannel_TCP ch(&owner, "");
    ASSERT_TRUE(ch.Open());
    EXPECT_EQ(owner.Styled(), std::vector<std::string>{"0|Open TCP socket"});
    EXPECT_FALSE(ch.Open());
    EXPECT_EQ(owner.Lines().size(), 1u);
    EXPECT_TRUE(ch.Close());
    EXPECT_FALSE(ch.IsOpened());
    EXPECT_EQ(owner.Styled().back(), "0|Close socket");
}

TEST(TcpChannel, CallsOnAClosedChannelReportNotOpened)
{
    RecordingOwner owner;
    TalkChannel_TCP ch(&owner, "");
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
    EXPECT_EQ(owner.Styled(), (std::vector<std::string>{"4|Connection error: 'Channel not opened'",
                                                        "4|Sending error: 'Socket not opened'",
                                                        "4|Receiving error: 'Socket not opened'"}));
}

TEST(TcpChannel, ConnectFailuresNameTheirCause)
{
    const int port = ClosedPort();
    const struct {
        std::string address;
        std::string error;
    } cases[] = {
        {"127.0.0.1:" + std::to_string(port), "4|Connection error: 'Connection refused'"},
        {"a:b:503", "4|Connection error: 'Cannot assign requested address'"},
        {"localhost", "4|Connection error: 'Cannot assign requested address'"},
    };
    for (const auto& c : cases) {
        RecordingOwner owner;
        TalkChannel_TCP ch(&owner, "", kShortTimeoutMs);
        ASSERT_TRUE(ch.Open());
        EXPECT_FALSE(ch.Connect(c.address.c_str()));
        EXPECT_EQ(owner.Styled(), (std::vector<std::string>{"0|Open TCP socket",
                                                            "0|Connecting to '" + c.address + "'", c.error}));
        EXPECT_TRUE(ch.IsOpened());   // a failure keeps the channel's state
        EXPECT_TRUE(ch.Close());
    }
}

TEST(TcpChannel, ReportErrorWithDetailAndHint)
{
    RecordingOwner owner;
    TalkChannel_TCP ch(&owner, "Dev");
    ch.ReportError("Connection error", 10061);
    ch.ReportError("Sending error", 10061, "Not all data was send");
    ch.ReportError("Connection error", 10061, nullptr, "Check the cable");
    ch.ReportError("Receiving error", 12345);
    EXPECT_EQ(owner.Styled(), (std::vector<std::string>{
                                  "4|Dev: Connection error: 'Connection refused'",
                                  "4|Dev: Sending error: 'Not all data was send'",
                                  "4|Dev: Connection error: 'Connection refused'. Check the cable.",
                                  "4|Dev: Receiving error: 'Unknown ERROR'"}));
}

// Lowers the descriptor limit to the lowest free descriptor, so the next socket() fails with
// EMFILE, and restores it afterwards.
class NoFreeDescriptor {
public:
    NoFreeDescriptor()
    {
        getrlimit(RLIMIT_NOFILE, &saved_);
        int lowest = dup(0);
        close(lowest);
        rlimit tight = saved_;
        tight.rlim_cur = (rlim_t)lowest;
        setrlimit(RLIMIT_NOFILE, &tight);
    }
    ~NoFreeDescriptor() { setrlimit(RLIMIT_NOFILE, &saved_); }

private:
    rlimit saved_;
};

TEST(Channels, OpenFailsWithoutAFreeDescriptor)
{
    RecordingOwner owner;
    TalkChannel_TCP tcp(&owner, "T");
    TalkChannel_UDPBroadcast udp(&owner, "U");
    {
        NoFreeDescriptor limit;
        EXPECT_FALSE(tcp.Open());
        EXPECT_FALSE(udp.Open());
    }
    EXPECT_FALSE(tcp.IsOpened());
    EXPECT_FALSE(udp.IsOpened());
    EXPECT_EQ(owner.Styled(), (std::vector<std::string>{"0|T: Open TCP socket",
                                                        "4|T: TCP socket open error: 'Too many open files'",
                                                        "0|U: Open UDP socket",
                                                        "4|U: UDP socket open error: 'Too many open files'"}));
    EXPECT_TRUE(tcp.Open());   // with descriptors back, the same channel opens
    EXPECT_TRUE(tcp.Close());
}

class Connected : public ::testing::Test {
protected:
    void Connect(ScriptedPeer& peer)
    {
        ASSERT_TRUE(peer.Start());
        ASSERT_TRUE(ch.Open());
        ASSERT_TRUE(ch.Connect(peer.HostPort().c_str()));
        owner.Clear();
    }
    RecordingOwner owner;
    TalkChannel_TCP ch{&owner, "", kShortTimeoutMs};
};

TEST_F(Connected, ReceiveTimeoutIsSuccessWithNothing)
{
    ScriptedPeer peer(ScriptedPeer::SilentConnection());
    Connect(peer);
    owner.talkLog = true;
    uint8_t b[8];
    int got = -5;
    bool end = true;
    EXPECT_TRUE(ch.Receive(b, sizeof b, &got, &end));
    EXPECT_EQ(got, 0);
    EXPECT_FALSE(end);
    EXPECT_EQ(owner.Styled(), std::vector<std::string>{"1|<-- 0 bytes"});
    EXPECT_TRUE(ch.Close());
}

TEST_F(Connected, SendDumpsAndReceiveDeliversThenEnd)
{
    ScriptedPeer peer({{ExpectBytes(Hex("01 02 03 04 05 06 07 08 09 0A")), SendBytes(Hex("AA BB CC")),
                        CloseConnection()}});
    Connect(peer);
    owner.talkLog = true;
    const Bytes out = Hex("01 02 03 04 05 06 07 08 09 0A");
    EXPECT_TRUE(ch.Send(out.data(), (int)out.size()));
    uint8_t b[8];
    int got = 0;
    bool end = false;
    int total = 0;
    for (int i = 0; i < 10 && total < 3; i++) {
        ASSERT_TRUE(ch.Receive(b + total, 8 - total, &got, &end));
        total += got;
    }
    ASSERT_EQ(total, 3);
    EXPECT_EQ(Bytes(b, b + 3), Hex("AA BB CC"));
    for (int i = 0; i < 10 && !end; i++) ASSERT_TRUE(ch.Receive(b, 8, &got, &end));
    EXPECT_TRUE(end);
    EXPECT_EQ(got, 0);
    std::vector<std::string> lines = owner.Styled();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], "1|--> 10 bytes:");
    EXPECT_EQ(lines[1], "3|01 02 03 04 05 06 07 08");
    EXPECT_EQ(lines[2], "3|09 0A                  ");
    EXPECT_EQ(lines[3], "1|<-- 3 bytes:");
    EXPECT_EQ(lines[4], "3|AA BB CC               ");
    EXPECT_TRUE(ch.Close());
    EXPECT_TRUE(peer.Finish());
    EXPECT_TRUE(peer.Problems().empty());
}

TEST(TcpChannel, SendThatCannotGoOutWholeIsReported)
{
    // A listener that never accepts: the connection completes in its backlog, nobody reads,
    // and a send far larger than both socket buffers goes out only in part before the send
    // time-out ends it.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(listener, (sockaddr*)&a, sizeof a), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    ASSERT_EQ(getsockname(listener, (sockaddr*)&a, &len), 0);
    RecordingOwner owner;
    TalkChannel_TCP ch(&owner, "", kShortTimeoutMs);
    ASSERT_TRUE(ch.Open());
    ASSERT_TRUE(ch.Connect(("127.0.0.1:" + std::to_string(ntohs(a.sin_port))).c_str()));
    owner.Clear();
    Bytes huge(64u << 20, 0xA5);
    EXPECT_FALSE(ch.Send(huge.data(), (int)huge.size()));
    EXPECT_EQ(owner.Styled(), std::vector<std::string>{"4|Sending error: 'Not all data was send'"});
    EXPECT_TRUE(ch.Close());
    close(listener);
}

TEST_F(Connected, ResetPeerFailsReceiveThenSend)
{
    ScriptedPeer peer({{ExpectBytes(Hex("01")), ResetConnection()}});
    Connect(peer);
    const uint8_t one = 1;
    ASSERT_TRUE(ch.Send(&one, 1));
    uint8_t b[4];
    int got = 0;
    bool end = false;
    EXPECT_FALSE(ch.Receive(b, 4, &got, &end));
    EXPECT_EQ(got, -1);
    EXPECT_FALSE(ch.Send(&one, 1));
    EXPECT_EQ(owner.Styled(), (std::vector<std::string>{"4|Receiving error: 'Connection reset by peer'",
                                                        "4|Sending error: 'Cannot send after socket shutdown'"}));
    EXPECT_TRUE(ch.IsOpened());
    EXPECT_TRUE(ch.Close());
}

} // namespace
