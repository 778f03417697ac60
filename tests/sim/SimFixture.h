// Starts one simulator per test and insists that it stops cleanly (exit 0: no sanitizer report,
// no leak) when the test ends.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/sim/SimTestClient.h"
#include "tests/support/SimProcess.h"

class SimTest : public ::testing::Test {
protected:
    void StartSim(const std::vector<std::string>& args = {}) {
        StopSim();
        sim_ = std::make_unique<SimProcess>(args);
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error;
    }
    void StopSim() {
        client_.Close();
        if (!sim_) return;
        sim_->Stop();
        EXPECT_EQ(0, sim_->ExitCode()) << sim_->Output();
        sim_.reset();
    }
    void Connect() { ASSERT_TRUE(client_.Connect(sim_->TcpPort())); }
    void TearDown() override { StopSim(); }

    std::unique_ptr<SimProcess> sim_;
    RawClient client_;
};
