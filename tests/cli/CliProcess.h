// Runs pelta-cli as a child with its output on a pipe (or a pseudo-terminal), collects it
// within a time limit and can interrupt it once a given text has appeared.
#pragma once
#include <string>
#include <vector>

struct CliResult {
    int exitCode = -1;     // 128 + signal when it died of one, -1 when it had to be killed
    std::string out;       // standard output (and the terminal's output on a pty)
    std::string err;
    bool interrupted = false;
};

// interruptOn: when not empty, SIGINT goes to the child once its output contains this text.
CliResult CliRun(const std::vector<std::string>& args, const std::string& interruptOn = "",
                 bool terminal = false, int timeoutMs = 60000);
std::string CliBinary();
