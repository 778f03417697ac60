// The simulator fixture of the runner and settings tests: pelta-sim on loopback with a fresh
// state folder per start, and a runner with short waits talking to it through a RecordingUi.
#pragma once
#include <gtest/gtest.h>
#include <memory>
#include "tests/base/TempDir.h"
#include "tests/support/RecordingUi.h"
#include "tests/support/SimProcess.h"

const int kOperationTimeoutMs = 60000;  // bounds every wait for an operation to end
// The transaction gives up after one silent second, the socket after half a second.
RunnerOptions FastOptions();

class RunnerSimTest : public ::testing::Test {
protected:
    void StartSim(std::vector<std::string> args = {});  // and a runner on it
    // A runner on host with password_; its clock stands still, so durations are exact.
    virtual void RunnerStart(const std::string& host, const RunnerOptions& options = FastOptions());
    void TearDown() override;
    // The begun operation to its joined worker; its end state.
    AppState Finish() { return WaitIdle(*runner_, kOperationTimeoutMs) ? State() : AppState::Unknown; }
    AppState Run(OperationKind kind);  // commands by their begin step, other kinds directly
    AppState State() { AppState s = AppState::Unknown; runner_->StateGet(&s, nullptr); return s; }
    std::string EndLine() { return ui_->Lines().empty() ? "" : ui_->Lines().back().text; }

    TempDir scratch_;
    std::string stateDir_, password_ = "1";  // stateDir_: scratch_/stateN of the last start
    int starts_ = 0;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<RecordingUi> ui_;
    std::unique_ptr<OperationRunner> runner_;
};
