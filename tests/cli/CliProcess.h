// Runs pelta-cli as a child with its output on a pipe (or a pseudo-terminal), collects it
// within a time limit and can signal it once a given text has appeared; CliSimTest gives each
// test a simulator and scratch files.
#pragma once
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/types.h>

#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/SimProcess.h"

enum CliExit { kOk = 0, kFailed = 1, kUsage = 2, kAborted = 3, kDiffers = 4 };

struct CliResult {
    int exitCode = -1;  // 128 + signal when it died of one, -1 when it had to be killed
    std::string out;    // standard output (and the terminal's output on a pty)
    std::string err;
    bool interrupted = false;
};

struct CliOptions {
    std::string interruptOn;  // when not empty, signals go to the child once its output has this
    bool terminal = false;    // standard output on a pseudo-terminal instead of a pipe
    int timeoutMs = 60000;
    int signal = SIGINT;
    int signalCount = 1;  // each one sent after the child took the one before
    // Called with the child's pid just before the first signal.
    std::function<void(pid_t)> beforeSignal;
    // On a terminal: output suspended (as by Ctrl-S) before the signals, resumed once the
    // child ended, so that nothing the child does can finish while it is suspended.
    bool suspendOutput = false;
};

CliResult CliRun(const std::vector<std::string>& args, const CliOptions& options);
// interruptOn: when not empty, SIGINT goes to the child once its output contains this text.
CliResult CliRun(const std::vector<std::string>& args, const std::string& interruptOn = "",
                 bool terminal = false, int timeoutMs = 60000);
std::string CliBinary();
// The lines of text, each "HH:MM:SS  " stamp that starts one replaced by "~ ".
std::vector<std::string> CliLines(const std::string& text);

class CliSimTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> simArgs = {});
    void TearDown() override;
    // A scratch file removed after the test, holding text when given.
    std::string File(const std::string& name, const std::string* text = nullptr);
    std::string File(const std::string& name, const std::string& text) { return File(name, &text); }
    // The command with --host of the simulator.
    CliResult Run(std::vector<std::string> args, const CliOptions& options = {});

    std::unique_ptr<SimProcess> sim_;
    std::vector<std::string> files_;
};
