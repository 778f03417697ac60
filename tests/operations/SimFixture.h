// Shared pieces of the runner tests: a simulator on loopback, a runner with shortened
// time-outs that talks to it through a RecordingUi, scratch files and the simulator's record
// of the image it received.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "operations/OperationRunner.h"
#include "tests/operations/RecordingUi.h"
#include "tests/support/SimProcess.h"

// Short waits for tests: the transaction gives up after one silent second.
RunnerOptions FastOptions();
// Bounds every wait for an operation to end.
const int kOperationTimeoutMs = 60000;

std::string ScratchDir();
std::string FileWrite(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> FileRead(const std::string& path);
// Deterministic image bytes.
std::vector<uint8_t> ImageBytes(size_t size, uint32_t seed);

// Header and code records as the simulator stored them (staged-*.rec, 16 bytes each).
struct StagedRecords {
    uint16_t recordCount = 0;
    uint32_t size = 0;
    uint32_t crc = 0;
    uint32_t mask = 0;
    std::vector<uint16_t> wordCounts;  // of every code record
    std::vector<uint8_t> unmasked;     // image words after removing the mask, file order
};
bool StagedRead(const std::string& path, StagedRecords* out);

class RunnerSimTest : public ::testing::Test {
protected:
    // Starts the simulator with extra arguments and a fresh state folder, and a runner.
    void StartSim(std::vector<std::string> args = {});
    void TearDown() override;

    // One operation from its begin step to the joined worker.
    void RunCommand(OperationKind kind);
    void RunWrite(const std::vector<uint8_t>& image, bool firmware);
    void RunWriteFile(const std::string& path, bool firmware);
    AppState State();
    // The last line: the end line of the last operation, or the reboot hint after a write.
    std::string EndLine();

    std::string stateDir_;
    std::string scratch_;
    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<RecordingUi> ui_;
    std::unique_ptr<OperationRunner> runner_;
    std::string password_ = "1";
};
