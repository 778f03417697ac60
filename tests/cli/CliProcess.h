// Runs pelta-cli as a child with its output on a pipe (or a pseudo-terminal), collects it
// within a time limit and can interrupt it once a given text has appeared.
#pragma once
#include <sys/types.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

struct CliResult {
    int exitCode = -1;     // 128 + signal when it died of one, -1 when it had to be killed
    std::string out;       // standard output (and the terminal's output on a pty)
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
