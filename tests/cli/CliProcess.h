// Runs pelta-cli as a child on pipes (or a pseudo-terminal) for at most a minute, signalling it once
// a given text has appeared; CliSimTest gives each test simulators and a scratch folder.
#pragma once
#include <gmock/gmock.h>
#include <sys/types.h>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/base/TempDir.h"
#include "tests/support/SimProcess.h"

enum CliExit { kOk = 0, kFailed = 1, kUsage = 2, kAborted = 3, kDiffers = 4 };
using Args = std::vector<std::string>;

struct CliResult {
    int exitCode = -1;       // 128 + signal when it died of one, -1 when it had to be killed
    std::string out, err;    // on a terminal, out is all the terminal showed
    bool interrupted = false;
};

struct CliOptions {
    std::string interruptOn;  // when not empty, signals go to the child once its output has this
    bool terminal = false;    // standard output and error on one pseudo-terminal instead of pipes
    int signal = SIGINT, signalCount = 1;     // each one sent after the child took the one before
    std::function<void(pid_t)> beforeSignal = nullptr;  // called with the child's pid before the first one
    bool suspendOutput = false;  // on a terminal: output stopped (as by Ctrl-S) from the signals on
};

CliResult CliRun(const Args& args, const CliOptions& options = {});

class CliSimTest : public ::testing::Test {
protected:
    void Start(const Args& simArgs = {});
    // More simulators, started together, each "--host ADDR" appended to *cli.
    std::vector<std::unique_ptr<SimProcess>> Sims(const std::vector<Args>& args, Args* cli);
    // name in the test's scratch folder (removed after the test), holding text when given.
    std::string File(const std::string& name, const std::optional<std::string>& text = {});
    // An image of size bytes in which neighbouring records differ.
    std::string Image(size_t size, const std::string& name = "image.bin");
    CliResult Run(Args args, const CliOptions& options = {});  // with --host of sim_

    TempDir scratch_;  // before sim_, so that it outlives the simulator
    std::unique_ptr<SimProcess> sim_;
};
