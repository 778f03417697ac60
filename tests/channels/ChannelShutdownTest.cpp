// Shutdown from another thread: a blocked receive ends at once with "Interrupted function
// call", and the following Close releases the socket without a second close line.
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>
#include "channels/TalkChannel_UDPBroadcast.h"
#include "tests/channels/RecordingOwner.h"
#include "tests/channels/ScriptedPeer.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ReceiveOutcome {
    bool ok;
    int received;
    double seconds;
};

// Starts a receive on a worker thread, shuts the channel down from this thread once the
// worker is inside the call, and returns what the receive gave.
ReceiveOutcome ShutdownDuringReceive(TalkChannel& ch)
{
    std::promise<void> entering;
    std::future<void> entered = entering.get_future();
    auto result = std::async(std::launch::async, [&] {
        uint8_t b[16];
        int got = 0;
        bool end = false;
        entering.set_value();
        auto t0 = Clock::now();
        bool ok = ch.Receive(b, sizeof b, &got, &end);
        return ReceiveOutcome{ok, got, std::chrono::duration<double>(Clock::now() - t0).count()};
    });
    entered.wait();
    // Whether the worker is already blocked or about to call recv, the shutdown state is
    // kept on the socket, so the call returns either way.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(ch.Shutdown());
    return result.get();
}

TEST(ChannelShutdown, WakesBlockedTcpReceive)
{
    ScriptedPeer peer(ScriptedPeer::SilentConnection());
    ASSERT_TRUE(peer.Start());
    RecordingOwner owner;
    TalkChannel_TCP ch(&owner, "");   // the real 5 s time-out: only Shutdown can end it early
    ASSERT_TRUE(ch.Open());
    ASSERT_TRUE(ch.Connect(peer.HostPort().c_str()));
    owner.Clear();

    ReceiveOutcome out = ShutdownDuringReceive(ch);
    EXPECT_FALSE(out.ok);
    EXPECT_EQ(out.received, -1);
    EXPECT_LT(out.seconds, 2.0);
    EXPECT_TRUE(ch.IsOpened());   // the handle stays until Close
    EXPECT_TRUE(ch.Shutdown());   // a second shutdown does nothing

    uint8_t b = 0;
    EXPECT_FALSE(ch.Send(&b, 1));
    EXPECT_TRUE(ch.Close());
    EXPECT_FALSE(ch.IsOpened());
    EXPECT_EQ(owner.Styled(), (std::vector<std::string>{"0|Shutdown/close socket",
                                                        "4|Receiving error: 'Interrupted function call'",
                                                        "4|Sending error: 'Interrupted function call'"}));
    EXPECT_EQ(owner.Count("Close socket"), 0);

    // The channel opens again afterwards.
    EXPECT_TRUE(ch.Open());
    EXPECT_FALSE(ch.IsShut());
    EXPECT_TRUE(ch.Close());
    EXPECT_EQ(owner.Count("Close socket"), 1);
}

TEST(ChannelShutdown, WakesBlockedUdpReceive)
{
    RecordingOwner owner;
    TalkChannel_UDPBroadcast ch("", &owner);
    ASSERT_TRUE(ch.Open());
    owner.Clear();
    ReceiveOutcome out = ShutdownDuringReceive(ch);
    EXPECT_FALSE(out.ok);
    EXPECT_LT(out.seconds, 2.0);
    EXPECT_TRUE(ch.Close());
    EXPECT_EQ(owner.Styled(), (std::vector<std::string>{"0|Shutdown/close socket",
                                                        "4|Receiving error: 'Interrupted function call'"}));
}

TEST(ChannelShutdown, RacesWithReceivesNeverHang)
{
    // Shutdown at varying moments of a receive loop: every loop ends promptly with a failure.
    for (int round = 0; round < 20; round++) {
        ScriptedPeer peer(ScriptedPeer::SilentConnection());
        ASSERT_TRUE(peer.Start());
        RecordingOwner owner;
        TalkChannel_TCP ch(&owner, "", 1000);
        ASSERT_TRUE(ch.Open());
        ASSERT_TRUE(ch.Connect(peer.HostPort().c_str()));
        auto loop = std::async(std::launch::async, [&] {
            uint8_t b[4];
            int got;
            bool end;
            for (int i = 0; i < 100; i++)
                if (!ch.Receive(b, sizeof b, &got, &end)) return i;
            return -1;
        });
        std::this_thread::sleep_for(std::chrono::microseconds(round * 500));
        EXPECT_TRUE(ch.Shutdown());
        auto t0 = Clock::now();
        EXPECT_EQ(loop.wait_for(std::chrono::seconds(3)), std::future_status::ready);
        EXPECT_GE(loop.get(), 0);
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - t0).count(), 2.0);
        EXPECT_TRUE(ch.Close());
    }
}

} // namespace
