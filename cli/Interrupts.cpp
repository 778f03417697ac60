#include "cli/Interrupts.h"

#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include "operations/OperationRunner.h"

namespace {
const int kSignals[] = {SIGINT, SIGTERM};
// The main thread also looks at the run state this often, whatever the pipe says.
const int kWaitSliceMs = 250;

InterruptCounter counter;
int wakeFd = -1;
char wakeByte = 0;
int exitCode = 0;

void SetOf(sigset_t* set)
{
    sigemptyset(set);
    for (int s : kSignals)
        sigaddset(set, s);
}

extern "C" void OnInterrupt(int)
{
    // Only async-signal-safe calls here; the main thread turns the byte into the stop request.
    int saved = errno;
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t nowMs = (int64_t)now.tv_sec * 1000 + now.tv_nsec / 1000000;
    // Nothing more is written: the output may be what holds the program up (a terminal
    // stopped with Ctrl-S). A terminal shows every line as it is made; into a file or a pipe
    // only the lines of the last fraction of a second can still be held back.
    if (counter.Press(nowMs) == InterruptCounter::Exit)
        _exit(exitCode);
    ssize_t ignored = write(wakeFd, &wakeByte, 1);
    (void)ignored;
    errno = saved;
}
}  // namespace

InterruptCounter::Action InterruptCounter::Press(int64_t nowMs)
{
    bool third = earlier_[0] >= 0 && nowMs - earlier_[0] <= kExitWindowMs;
    earlier_[0] = earlier_[1];
    earlier_[1] = nowMs;
    return third ? Exit : Stop;
}

void InterruptsBlock()
{
    sigset_t set;
    SetOf(&set);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void InterruptsInstall(int fd, char byte, int code)
{
    wakeFd = fd;
    wakeByte = byte;
    exitCode = code;
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    // Both signals share one counter: neither may interrupt the handler of the other.
    SetOf(&action.sa_mask);
    // The main thread's own writes are restarted; its poll returns early, which it expects.
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        sigaction(s, &action, nullptr);
}

void InterruptsUnblock()
{
    sigset_t set;
    SetOf(&set);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

void InterruptsRemove()
{
    for (int s : kSignals)
        signal(s, SIG_DFL);
}

void OperationWait(OperationRunner& runner, int wakeRead, char stopByte, const std::function<void()>& eachTurn)
{
    // Every press counts: one that came while the worker held the channel (opening it) could
    // not shut it down, the next one can.
    while (runner.IsBusy()) {
        if (eachTurn)
            eachTurn();
        struct pollfd p = {wakeRead, POLLIN, 0};
        if (poll(&p, 1, kWaitSliceMs) <= 0)
            continue;
        char bytes[64];
        ssize_t n = read(wakeRead, bytes, sizeof bytes);
        for (ssize_t i = 0; i < n; ++i)
            if (bytes[i] == stopByte && runner.IsBusy())
                runner.TalkStop();
    }
    runner.WorkerJoin();
}
