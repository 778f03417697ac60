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
// The lines that list the interfaces carry no time stamp of their own.
const std::string kNoTime = "0/" + std::to_string(LogModeLine | kLogNoTime) + "|\t\t";

// The channel with a chosen interface list (each one's broadcast address is the address itself)
// and destination port.
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
