// Ctrl-C and SIGTERM in pelta-cli: only the main thread takes them, each one is a press of the
// stop button, and a third press within two seconds ends the program at once.
#pragma once
#include <cstdint>
#include <functional>

class OperationRunner;

// Counts the presses; pure, so that the signal handler may call it.
class InterruptCounter {
public:
    enum Action { Stop, Exit };
    // The press at nowMs (a monotonic clock): Exit when it is the third within kExitWindowMs.
    Action Press(int64_t nowMs);

    static const int64_t kExitWindowMs = 2000;

private:
    // The two presses before this one, older first; -1 while there were fewer.
    int64_t earlier_[2] = {-1, -1};
};

// Blocks SIGINT and SIGTERM in the calling thread; threads it starts afterwards inherit that.
void InterruptsBlock();
// Installs the handler: each signal writes wakeByte to wakeFd, the third within two seconds
// ends the process with exitCode.
void InterruptsInstall(int wakeFd, char wakeByte, int exitCode);
// Lets the calling thread (the main thread, after the worker started) take them again.
void InterruptsUnblock();
// Back to the default actions.
void InterruptsRemove();

// Main thread: waits for the worker to leave the busy states, taking every stopByte read from
// wakeRead as a press of the stop button, then joins the worker. eachTurn (may be empty) runs
// before every wait.
void OperationWait(OperationRunner& runner, int wakeRead, char stopByte, const std::function<void()>& eachTurn);
