// UDP broadcast channel on loopback: the interface list is replaced by loopback addresses so
// the datagrams stay on 127.0.0.0/8; the interface list itself; delivery in pieces, end of
// stream, sender, failures.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>
#include "tests/support/LoopbackUdpChannel.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/ScriptedPeer.h"

namespace {

using Lines = std::vector<std::string>;

// A loopback unit: a datagram socket bound to address:port (port 0 picks one).
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
    int port;
    int fd;
    sockaddr_in from{};
};

TEST(IfiInfo, BroadcastAddressTextAndTheHostList)
{
    const struct { const char* address; const char* mask; const char* broadcast; } cases[] = {
        {"192.168.1.10", "255.255.255.0", "192.168.1.255"}, {"10.0.0.5", "255.0.0.0", "10.255.255.255"},
        {"172.16.5.4", "255.255.240.0", "172.16.15.255"}, {"127.0.0.1", "255.255.255.255", "127.0.0.1"}};
    char text[20];
    for (const auto& c : cases) {
        ifi_entry e = MakeIfiEntry(kIfiBroadcast, inet_addr(c.address), inet_addr(c.mask));
        EXPECT_STREQ(IPv4ToText(e.broadcast, text, sizeof text), c.broadcast) << c.address;
    }
    EXPECT_EQ(IPv4ToText(1, text, 0), nullptr);
    EXPECT_EQ(IPv4ToText(1, nullptr, 10), nullptr);
    int count = -1, loopback = 0;
    ifi_entry* list = get_ifi_info(&count);
    ASSERT_GT(count, 0);
    for (int i = 0; i < count; i++) {
        EXPECT_EQ(list[i].broadcast, list[i].address | ~list[i].netmask);
        if (list[i].address == inet_addr("127.0.0.1"))
            loopback += list[i].netmask == inet_addr("255.0.0.0") && !(list[i].flags & kIfiBroadcast);
    }
    EXPECT_EQ(loopback, 1);
    free(list);
}

TEST(UdpChannel, BroadcastsOnceAndHandsOutEachAnswerInPieces)
{
    FakeUnit u1("127.0.0.1", 0), u2("127.0.0.2", u1.port);
    if (u2.fd == -1) GTEST_SKIP() << "port taken on 127.0.0.2";
    RecordingOwner owner;
    owner.talkLog = true;
    LoopbackUdpChannel ch(&owner, {LoopbackUdpChannel::Loopback("127.0.0.1"), MakeIfiEntry(0, inet_addr("127.0.0.3"), ~0u),
                                   LoopbackUdpChannel::Loopback("127.0.0.2")}, (uint16_t)u1.port, 200);
    ASSERT_TRUE(ch.Open());
    const Bytes request = Hex("01 02");
    ASSERT_TRUE(ch.Send(request.data(), 2));
    EXPECT_EQ(u1.Take(), request);
    EXPECT_EQ(u2.Take(), request);
    EXPECT_EQ(u1.Take(), Bytes{});
    std::vector<LoggedLine> lines = owner.Lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[1].mode, (int)LogModeLine);
    EXPECT_EQ((uint32_t)lines[2].mode, (uint32_t)(LogModeLine | kLogNoTime));
    EXPECT_EQ(owner.Styled(), (Lines{"0|Open UDP socket", "0|Send to broadcast addresses:", "0|\t\t127.0.0.1",
                                     "0|\t\t127.0.0.2", "1|--> 2 bytes:", "3|01 02                  "}));
    owner.Clear();
    EXPECT_TRUE(ch.Send(request.data(), 2));   // the request is out: only listen now
    EXPECT_EQ(u1.Take(), Bytes{});

    Bytes twenty = Bytes(20, 0x5A), three = Hex("0A 0B 0C");
    u1.Answer(twenty);
    u2.Answer(three);
    u1.Answer(Bytes(257, 0xAB));
    u1.Answer(Bytes(256, 0xCD));
    owner.Clear();
    uint8_t b[300];
    const uint32_t one = inet_addr("127.0.0.1"), two = inet_addr("127.0.0.2");
    const struct { bool clearFirst; int size, count; bool end, ok; uint32_t sender; } reads[] = {
        {false, 7, 7, false, true, one},  {false, 13, 13, false, true, one},  {false, 5, 0, true, true, one},
        {false, 5, 0, true, true, one},   {true, 32, 3, false, true, two},     {true, 300, -1, false, false, one},
        {false, 300, 0, true, true, one}, {true, 300, 256, false, true, one}, {true, 300, 0, true, true, 0}};
    for (size_t i = 0; i < sizeof reads / sizeof reads[0]; i++) {
        if (reads[i].clearFirst) ch.ClearDatagramHeld();
        int count = -5;
        bool end = !reads[i].end;
        EXPECT_EQ(ch.Receive(b, reads[i].size, &count, &end), reads[i].ok) << "read " << i;
        EXPECT_EQ(count, reads[i].count) << "read " << i;
        EXPECT_EQ(end, reads[i].end) << "read " << i;
        EXPECT_EQ(ch.SenderAddress(), reads[i].sender) << "read " << i;
        EXPECT_TRUE(i != 1 || Bytes(b, b + 13) == Bytes(13, 0x5A));
    }
    EXPECT_EQ(b[255], 0xCD);
    Lines heads;   // each datagram is dumped once, when it is taken from the socket
    for (const std::string& line : owner.Styled())
        if (line[0] != '3') heads.push_back(line);
    EXPECT_EQ(heads, (Lines{"1|<-- 20 bytes:", "1|<-- 3 bytes:", "0|<-- ERROR", "4|Receiving error: 'Message too long'",
                            "1|<-- 256 bytes:", "1|<-- 0 bytes"}));
    EXPECT_TRUE(ch.Close());
    ASSERT_TRUE(ch.Open());   // a new search sends again
    EXPECT_TRUE(ch.Send(request.data(), 2));
    EXPECT_EQ(u1.Take(), request);
}

TEST(UdpChannel, FailedSendsAndNoInterfaceThatCanBroadcast)
{
    RecordingOwner owner;
    // Port 0 is no valid destination: every send fails, and one more line sums it up.
    LoopbackUdpChannel ch(&owner, {LoopbackUdpChannel::Loopback("127.0.0.1"), LoopbackUdpChannel::Loopback("127.0.0.2")},
                          0, 200);
    uint8_t b[4] = {1, 2, 3, 4};
    int count = 0;
    bool end = false;
    EXPECT_FALSE(ch.Send(b, 4));
    EXPECT_FALSE(ch.Receive(b, 4, &count, &end));
    ASSERT_TRUE(ch.Open());
    EXPECT_TRUE(ch.Connect("anything"));
    EXPECT_FALSE(ch.Send(b, 4));
    EXPECT_FALSE(ch.IsRequestSent());
    EXPECT_TRUE(ch.Close());
    EXPECT_EQ(owner.Styled(), (Lines{"4|Sending error: 'Socket not opened'", "4|Receiving error: 'Socket not opened'",
                                     "0|Open UDP socket", "0|Send to broadcast addresses:", "0|\t\t127.0.0.1",
                                     "0|\t\t127.0.0.2", "4|Sending error: 'Invalid argument'",
                                     "4|Sending error: 'Invalid argument'", "4|Sending error: 'Invalid argument'",
                                     "0|Close socket"}));
    FakeUnit unit("127.0.0.1", 0);
    LoopbackUdpChannel none(&owner, {MakeIfiEntry(0, inet_addr("127.0.0.1"), inet_addr("255.0.0.0"))},
                            (uint16_t)unit.port, 200);
    ASSERT_TRUE(none.Open());
    EXPECT_TRUE(none.Send(b, 4));
    EXPECT_EQ(unit.Take(), Bytes{});
    EXPECT_TRUE(none.Receive(b, 4, &count, &end));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(end);
    EXPECT_TRUE(none.Close());
}

} // namespace
