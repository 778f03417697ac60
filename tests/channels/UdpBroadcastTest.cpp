// UDP broadcast channel on loopback: the interface list is replaced by loopback addresses so
// the datagrams stay on 127.0.0.0/8; delivery in pieces, end of stream, sender, failures.
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include "channels/TalkChannel_UDPBroadcast.h"
#include "tests/channels/LoopbackUdpChannel.h"
#include "tests/channels/RecordingOwner.h"
#include "tests/channels/ScriptedPeer.h"

namespace {

const int kShortTimeoutMs = 200;

uint32_t Addr(const char* dotted)
{
    return inet_addr(dotted);
}

// A loopback unit: a datagram socket bound to address:port (port 0 picks one).
class FakeUnit {
public:
    FakeUnit(const char* address, int port)
    {
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = Addr(address);
        a.sin_port = htons((uint16_t)port);
        socklen_t len = sizeof a;
        ok_ = bind(fd_, (sockaddr*)&a, sizeof a) == 0 && getsockname(fd_, (sockaddr*)&a, &len) == 0;
        port_ = ntohs(a.sin_port);
    }
    ~FakeUnit() { close(fd_); }
    bool Ok() const { return ok_; }
    int Port() const { return port_; }
    // Takes the next datagram without waiting (loopback delivers during sendto); false if none.
    bool Take(Bytes* data, sockaddr_in* from)
    {
        uint8_t b[2048];
        socklen_t len = sizeof *from;
        ssize_t n = recvfrom(fd_, b, sizeof b, MSG_DONTWAIT, (sockaddr*)from, &len);
        if (n < 0) return false;
        data->assign(b, b + n);
        return true;
    }
    void Answer(const sockaddr_in& to, const Bytes& data)
    {
        sendto(fd_, data.data(), data.size(), 0, (const sockaddr*)&to, sizeof to);
    }

private:
    int fd_;
    int port_ = 0;
    bool ok_ = false;
};

ifi_entry BroadcastEntry(const char* address)
{
    return LoopbackUdpChannel::Loopback(address);
}

TEST(IfiInfo, BroadcastAddressAndText)
{
    const struct {
        const char* address;
        const char* mask;
        const char* broadcast;
    } cases[] = {{"192.168.1.10", "255.255.255.0", "192.168.1.255"},
                 {"10.0.0.5", "255.0.0.0", "10.255.255.255"},
                 {"172.16.5.4", "255.255.240.0", "172.16.15.255"},
                 {"127.0.0.1", "255.255.255.255", "127.0.0.1"}};
    for (const auto& c : cases) {
        ifi_entry e = MakeIfiEntry(kIfiBroadcast, Addr(c.address), Addr(c.mask));
        char text[20];
        ASSERT_NE(IPv4ToText(e.broadcast, text, sizeof text), nullptr);
        EXPECT_STREQ(text, c.broadcast);
    }
    char small[4];
    EXPECT_EQ(IPv4ToText(Addr("1.2.3.4"), small, 0), nullptr);
    EXPECT_EQ(IPv4ToText(Addr("1.2.3.4"), nullptr, 10), nullptr);
}

TEST(IfiInfo, HostListHasLoopbackWithoutBroadcast)
{
    int count = -1;
    ifi_entry* list = get_ifi_info(&count);
    ASSERT_NE(list, nullptr);
    ASSERT_GT(count, 0);
    bool loopback = false;
    for (int i = 0; i < count; i++) {
        EXPECT_EQ(list[i].broadcast, list[i].address | ~list[i].netmask);
        if (list[i].address == Addr("127.0.0.1")) {
            loopback = true;
            EXPECT_EQ(list[i].flags & kIfiBroadcast, 0u);
            EXPECT_EQ(list[i].netmask, Addr("255.0.0.0"));
        }
    }
    EXPECT_TRUE(loopback);
    free(list);
}

TEST(UdpChannel, SendsOnceToEveryBroadcastInterfaceAndLogsThem)
{
    FakeUnit u1("127.0.0.1", 0);
    ASSERT_TRUE(u1.Ok());
    FakeUnit u2("127.0.0.2", u1.Port());
    if (!u2.Ok()) GTEST_SKIP() << "port taken on 127.0.0.2";
    RecordingOwner owner;
    ifi_entry noBroadcast = MakeIfiEntry(0, Addr("127.0.0.3"), 0xFFFFFFFFu);
    LoopbackUdpChannel ch(&owner, {BroadcastEntry("127.0.0.1"), noBroadcast, BroadcastEntry("127.0.0.2")},
                          (uint16_t)u1.Port(), kShortTimeoutMs);
    ASSERT_TRUE(ch.Open());
    const Bytes request = Hex("00 7B 00 00 00 0A 00 14 07 06 00 01 00 00 00 08");
    ASSERT_TRUE(ch.Send(request.data(), (int)request.size()));
    EXPECT_TRUE(ch.IsRequestSent());
    std::vector<LoggedLine> lines = owner.Lines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].text, "Open UDP socket");
    EXPECT_EQ(lines[1].text, "Send to broadcast addresses:");
    EXPECT_EQ(lines[1].mode, (int)LogModeLine);
    EXPECT_EQ(lines[2].text, "\t\t127.0.0.1");
    EXPECT_EQ(lines[3].text, "\t\t127.0.0.2");
    EXPECT_EQ((uint32_t)lines[2].mode, kLogNoTime);

    Bytes got;
    sockaddr_in from{};
    ASSERT_TRUE(u1.Take(&got, &from));
    EXPECT_EQ(got, request);
    ASSERT_TRUE(u2.Take(&got, &from));
    EXPECT_EQ(got, request);
    EXPECT_FALSE(u1.Take(&got, &from));

    // A second send on the same open channel only listens.
    owner.Clear();
    EXPECT_TRUE(ch.Send(request.data(), (int)request.size()));
    EXPECT_FALSE(u1.Take(&got, &from));
    EXPECT_TRUE(owner.Lines().empty());

    // After Close and Open it broadcasts again.
    EXPECT_TRUE(ch.Close());
    ASSERT_TRUE(ch.Open());
    EXPECT_FALSE(ch.IsRequestSent());
    EXPECT_TRUE(ch.Send(request.data(), (int)request.size()));
    EXPECT_TRUE(u1.Take(&got, &from));
    EXPECT_TRUE(ch.Close());
}

TEST(UdpChannel, DeliversOneDatagramInPiecesThenEndOfStream)
{
    FakeUnit u1("127.0.0.1", 0), u2("127.0.0.2", 0);
    ASSERT_TRUE(u1.Ok() && u2.Ok());
    RecordingOwner owner;
    LoopbackUdpChannel ch(&owner, {BroadcastEntry("127.0.0.1")}, (uint16_t)u1.Port(), kShortTimeoutMs);
    ASSERT_TRUE(ch.Open());
    uint8_t zero = 0;
    ASSERT_TRUE(ch.Send(&zero, 1));
    Bytes got;
    sockaddr_in client{};
    ASSERT_TRUE(u1.Take(&got, &client));

    Bytes answer1(20), answer2 = Hex("11 22 33");
    for (int i = 0; i < 20; i++) answer1[i] = (uint8_t)(i * 7);
    u1.Answer(client, answer1);
    u2.Answer(client, answer2);

    uint8_t b[32];
    int count = 0;
    bool end = true;
    ASSERT_TRUE(ch.Receive(b, 7, &count, &end));
    EXPECT_EQ(count, 7);
    EXPECT_FALSE(end);
    ASSERT_TRUE(ch.Receive(b + 7, 13, &count, &end));
    EXPECT_EQ(count, 13);
    EXPECT_EQ(Bytes(b, b + 20), answer1);
    EXPECT_EQ(ch.SenderAddress(), Addr("127.0.0.1"));
    ASSERT_TRUE(ch.Receive(b, 5, &count, &end));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(end);
    ASSERT_TRUE(ch.Receive(b, 5, &count, &end));   // stays at the end until cleared
    EXPECT_TRUE(end);

    ch.ClearDatagramHeld();
    ASSERT_TRUE(ch.Receive(b, 32, &count, &end));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Bytes(b, b + 3), answer2);
    EXPECT_EQ(ch.SenderAddress(), Addr("127.0.0.2"));

    // No more answers: a cleared receive times out into end of stream, silently.
    ch.ClearDatagramHeld();
    owner.Clear();
    ASSERT_TRUE(ch.Receive(b, 32, &count, &end));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(end);
    EXPECT_TRUE(owner.Lines().empty());
    EXPECT_TRUE(ch.Close());
}

TEST(UdpChannel, WithoutBroadcastInterfacesSendsNothingAndSucceeds)
{
    FakeUnit u1("127.0.0.1", 0);
    RecordingOwner owner;
    LoopbackUdpChannel ch(&owner, {MakeIfiEntry(0, Addr("127.0.0.1"), Addr("255.0.0.0"))}, (uint16_t)u1.Port(), kShortTimeoutMs);
    ASSERT_TRUE(ch.Open());
    owner.Clear();
    uint8_t one = 1;
    EXPECT_TRUE(ch.Send(&one, 1));
    EXPECT_EQ(owner.Styled(), std::vector<std::string>{"0|Send to broadcast addresses:"});
    Bytes got;
    sockaddr_in from{};
    EXPECT_FALSE(u1.Take(&got, &from));
    uint8_t b[8];
    int count;
    bool end;
    EXPECT_TRUE(ch.Receive(b, 8, &count, &end));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(end);
    EXPECT_TRUE(ch.Close());
}

TEST(UdpChannel, OversizeDatagramIsAReceiveError)
{
    FakeUnit u1("127.0.0.1", 0);
    RecordingOwner owner;
    LoopbackUdpChannel ch(&owner, {BroadcastEntry("127.0.0.1")}, (uint16_t)u1.Port(), kShortTimeoutMs);
    ASSERT_TRUE(ch.Open());
    uint8_t one = 1;
    ASSERT_TRUE(ch.Send(&one, 1));
    Bytes got;
    sockaddr_in client{};
    ASSERT_TRUE(u1.Take(&got, &client));
    u1.Answer(client, Bytes(257, 0xAB));
    u1.Answer(client, Bytes(256, 0xCD));
    owner.Clear();
    uint8_t b[300];
    int count = 0;
    bool end = false;
    EXPECT_FALSE(ch.Receive(b, 300, &count, &end));
    EXPECT_EQ(owner.Styled(), std::vector<std::string>{"4|Receiving error: 'Message too long'"});
    EXPECT_TRUE(ch.Receive(b, 300, &count, &end));   // the failed datagram reads as its end
    EXPECT_TRUE(end);
    ch.ClearDatagramHeld();
    ASSERT_TRUE(ch.Receive(b, 300, &count, &end));   // exactly 256 bytes still fit
    EXPECT_EQ(count, 256);
    EXPECT_EQ(b[255], 0xCD);
    EXPECT_TRUE(ch.Close());
}

TEST(UdpChannel, FailuresOfEverySendAndOfAClosedChannel)
{
    RecordingOwner owner;
    // Port 0 is no valid destination: every send fails, and one more line sums it up.
    LoopbackUdpChannel ch(&owner, {BroadcastEntry("127.0.0.1"), BroadcastEntry("127.0.0.2")}, 0, kShortTimeoutMs);
    uint8_t b[4] = {1, 2, 3, 4};
    int count = 0;
    bool end = false;
    EXPECT_FALSE(ch.Send(b, 4));
    EXPECT_FALSE(ch.Receive(b, 4, &count, &end));
    EXPECT_EQ(owner.Styled(), (std::vector<std::string>{"4|Sending error: 'Socket not opened'",
                                                        "4|Receiving error: 'Socket not opened'"}));
    ASSERT_TRUE(ch.Open());
    EXPECT_TRUE(ch.Connect("anything"));
    owner.Clear();
    EXPECT_FALSE(ch.Send(b, 4));
    EXPECT_FALSE(ch.IsRequestSent());
    EXPECT_EQ(owner.Styled(), (std::vector<std::string>{"0|Send to broadcast addresses:", "0|\t\t127.0.0.1",
                                                        "0|\t\t127.0.0.2", "4|Sending error: 'Invalid argument'",
                                                        "4|Sending error: 'Invalid argument'",
                                                        "4|Sending error: 'Invalid argument'"}));
    EXPECT_TRUE(ch.Close());
}

TEST(UdpChannel, TalkLogDumpsTheRequestOnceAndEachDatagram)
{
    FakeUnit u1("127.0.0.1", 0);
    RecordingOwner owner;
    owner.talkLog = true;
    LoopbackUdpChannel ch(&owner, {BroadcastEntry("127.0.0.1")}, (uint16_t)u1.Port(), kShortTimeoutMs);
    ASSERT_TRUE(ch.Open());
    owner.Clear();
    const Bytes request = Hex("01 02");
    ASSERT_TRUE(ch.Send(request.data(), 2));
    Bytes got;
    sockaddr_in client{};
    ASSERT_TRUE(u1.Take(&got, &client));
    u1.Answer(client, Hex("0A 0B 0C"));
    uint8_t b[2];
    int count;
    bool end;
    ASSERT_TRUE(ch.Receive(b, 2, &count, &end));
    ASSERT_TRUE(ch.Receive(b, 2, &count, &end));
    EXPECT_EQ(count, 1);
    EXPECT_EQ(owner.Styled(), (std::vector<std::string>{"0|Send to broadcast addresses:", "0|\t\t127.0.0.1",
                                                        "1|--> 2 bytes:", "3|01 02                  ",
                                                        "1|<-- 3 bytes:", "3|0A 0B 0C               "}));
    EXPECT_TRUE(ch.Close());
}

} // namespace
