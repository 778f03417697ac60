// UDP broadcast channel on loopback (its interface list replaced by loopback addresses, so the
// datagrams stay on 127.0.0.0/8): delivery in pieces, end of stream, sender, failures.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include "channels/TalkChannel_UDPBroadcast.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/ScriptedPeer.h"

namespace {

using Lines = std::vector<std::string>;

// The channel with a chosen interface list and destination port.
struct LoopbackUdpChannel : TalkChannel_UDPBroadcast {
    LoopbackUdpChannel(TalkChannelExtI* owner, std::vector<ifi_entry> list, uint16_t port)
        : TalkChannel_UDPBroadcast(owner, "", 200), interfaces(std::move(list))
    {
        destinationPort_ = port;
    }
    ifi_entry* Interfaces(int* count) override
    {
        *count = (int)interfaces.size();
        auto* list = static_cast<ifi_entry*>(malloc(sizeof(ifi_entry) * (interfaces.size() + 1)));
        return static_cast<ifi_entry*>(memcpy(list, interfaces.data(), sizeof(ifi_entry) * interfaces.size()));
    }
    std::vector<ifi_entry> interfaces;
};
// An interface that can broadcast (or not), whose broadcast address is the address itself.
ifi_entry Interface(const char* address, uint32_t flags = kIfiBroadcast)
{
    return MakeIfiEntry(flags, inet_addr(address), ~0u);
}

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
    int port, fd;
    sockaddr_in from{};
};

TEST(IfiInfo, HostListHasLoopbackWithoutBroadcast)
{
    int count = -1, loopback = 0;
    ifi_entry* list = get_ifi_info(&count);
    for (int i = 0; i < count; i++) {
        EXPECT_EQ(list[i].broadcast, list[i].address | ~list[i].netmask);
        loopback += list[i].address == inet_addr("127.0.0.1") && list[i].netmask == inet_addr("255.0.0.0") &&
                    !(list[i].flags & kIfiBroadcast);
    }
    free(list);
    EXPECT_EQ(loopback, 1);
    char text[16];
    EXPECT_EQ(IPv4ToText(1, text, 0), nullptr);
}

TEST(UdpChannel, BroadcastsOnceAndHandsOutEachAnswerInPieces)
{
    FakeUnit u1("127.0.0.1", 0), u2("127.1.2.3", u1.port);
    if (u2.fd == -1) GTEST_SKIP() << "port taken on 127.1.2.3";
    RecordingOwner owner;
    owner.talkLog = true;
    LoopbackUdpChannel ch(&owner, {Interface("127.0.0.1"), Interface("127.0.0.3", 0), Interface("127.1.2.3")},
                          (uint16_t)u1.port);
    const Bytes request = Hex("01 02");
    ASSERT_TRUE(ch.Open() && ch.Send(request.data(), 2));
    EXPECT_TRUE(u1.Take() == request && u2.Take() == request && u1.Take().empty());
    EXPECT_EQ(owner.Modes().at(2), (int)(LogModeLine | kLogNoTime));
    EXPECT_EQ(owner.Styled(), (Lines{"0|Open UDP socket", "0|Send to broadcast addresses:", "0|\t\t127.0.0.1",
                                     "0|\t\t127.1.2.3", "1|--> 2 bytes:", "3|01 02                  "}));
    owner.Clear();
    EXPECT_TRUE(ch.Send(request.data(), 2) && u1.Take().empty());   // the request is out: only listen now
    for (const Bytes& answer : {Bytes(20, 0x5A), Hex("0A 0B 0C"), Bytes(257, 0xAB), Bytes(256, 0xCD)})
        (answer.size() == 3 ? u2 : u1).Answer(answer);
    uint8_t b[300];
    const uint32_t one = inet_addr("127.0.0.1"), two = inet_addr("127.1.2.3");
    // clear: ClearDatagramHeld first; then the size asked, what came, end of stream, success, sender.
    const struct { bool clear; int size, count; bool end, ok; uint32_t sender; } reads[] = {
        {false, 7, 7, false, true, one},  {false, 13, 13, false, true, one},  {false, 5, 0, true, true, one},
        {false, 5, 0, true, true, one},   {true, 32, 3, false, true, two},     {true, 300, -1, false, false, one},
        {false, 300, 0, true, true, one}, {true, 300, 256, false, true, one}, {true, 300, 0, true, true, 0}};
    for (const auto& r : reads) {
        if (r.clear) ch.ClearDatagramHeld();
        int count = -5;
        bool end = !r.end, ok = ch.Receive(b, r.size, &count, &end);
        EXPECT_EQ(std::vector<uint32_t>({ok, (uint32_t)count, end, ch.SenderAddress()}),
                  std::vector<uint32_t>({r.ok, (uint32_t)r.count, r.end, r.sender})) << "read " << &r - reads;
    }
    EXPECT_EQ(b[255], 0xCD);
    Lines heads;   // each datagram is dumped once, when it is taken from the socket
    for (const std::string& line : owner.Styled())
        if (line[0] != '3') heads.push_back(line);
    EXPECT_EQ(heads, (Lines{"1|<-- 20 bytes:", "1|<-- 3 bytes:", "0|<-- ERROR",
                            "4|Receiving error: 'Message too long'", "1|<-- 256 bytes:", "1|<-- 0 bytes"}));
    EXPECT_TRUE(ch.Close() && ch.Open() && ch.Send(request.data(), 2) && u1.Take() == request);   // a new search
}

TEST(UdpChannel, FailedSendsAndNoInterfaceThatCanBroadcast)
{
    RecordingOwner owner;
    // Port 0 is no valid destination: every send fails, and one more line sums it up.
    LoopbackUdpChannel ch(&owner, {Interface("127.0.0.1"), Interface("127.0.0.2")}, 0);
    uint8_t b[4] = {1, 2, 3, 4};
    int count = 0;
    bool end = false;
    EXPECT_FALSE(ch.Send(b, 4) || ch.Receive(b, 4, &count, &end));
    EXPECT_TRUE(ch.Open() && ch.Connect("anything") && !ch.Send(b, 4) && !ch.IsRequestSent() && ch.Close());
    const std::string invalid = "4|Sending error: 'Invalid argument'";
    EXPECT_EQ(owner.Styled(), (Lines{"4|Sending error: 'Socket not opened'", "4|Receiving error: 'Socket not opened'",
                                     "0|Open UDP socket", "0|Send to broadcast addresses:", "0|\t\t127.0.0.1",
                                     "0|\t\t127.0.0.2", invalid, invalid, invalid, "0|Close socket"}));
    FakeUnit unit("127.0.0.1", 0);
    LoopbackUdpChannel none(&owner, {Interface("127.0.0.1", 0)}, (uint16_t)unit.port);
    EXPECT_TRUE(none.Open() && none.Send(b, 4) && unit.Take().empty() && none.Receive(b, 4, &count, &end));
    EXPECT_TRUE(count == 0 && end && none.Close());
}

} // namespace
