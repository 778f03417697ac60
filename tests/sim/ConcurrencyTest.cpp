// Also run under ThreadSanitizer, where any race in the simulator makes it exit non-zero.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/sim/SimTestClient.h"

namespace {

using ConcurrencyTest = SimTest;

TEST_F(ConcurrencyTest, ClientsWorkSideBySideAndARebootDropsAClientWaitingForADelayedAnswer) {
    StartSim();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            SimClient c;
            failures += !c.Connect(sim_->TcpPort());
            for (int round = 0; round < 150; ++round) {
                Bytes values = {0x00, 0x01, (uint8_t)i, (uint8_t)round};
                failures += c.Write((uint16_t)(200 + i), (uint16_t)round, values) != "ok";
                failures += c.Read((uint16_t)(200 + i), (uint16_t)round, 2) != ToHex(values);
            }
        });
    }
    threads.emplace_back([&] {
        SimClient c;
        failures += !c.Connect(sim_->TcpPort()) || WriteImage(c, 3, PatternImage(6008, 3), 42) != "";
        // Fewer than the listen backlog: a burst beyond it waits for SYN retransmits, not for the unit.
        for (int i = 0; i < 8; ++i) {
            failures += !c.Connect(sim_->TcpPort());
            c.Send(Hex("00 7B 00 00 00 06"));   // leaves in the middle of a header
        }
    });
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, failures.load());

    StartSim({"-v", "--fault-delay", "3000:1", "--reboot-delay", "100"});
    Connect();
    SimClient rebooter;
    ASSERT_TRUE(rebooter.Connect(sim_->TcpPort()));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client_.Send(RecordFrame(3, Hex("00 02 00 02"))));   // its answer is held back for 3 s
    // Its request was decoded (and took the delay) before the reboot is sent.
    ASSERT_TRUE(sim_->WaitForOutput("fn 3 start 2 count 2 -> ok", kIoTimeoutMs)) << sim_->Output();
    EXPECT_EQ("ok", rebooter.Keyed(14, 1));
    EXPECT_TRUE(client_.WaitClosed());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
    ASSERT_TRUE(sim_->WaitForOutput("back in 100 ms", kIoTimeoutMs)) << sim_->Output();
    EXPECT_TRUE(sim_->WaitForOutput("listening", kIoTimeoutMs, sim_->Output().find("back in"))) << sim_->Output();
}

}  // namespace
