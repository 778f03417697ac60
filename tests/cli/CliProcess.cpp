#include "tests/cli/CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace {
const int kPollMs = 50;

int ExitOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// A pseudo-terminal pair: master for the parent, slave path for the child.
bool TerminalOpen(int* master, std::string* slave)
{
    *master = posix_openpt(O_RDWR | O_NOCTTY);
    if (*master < 0 || grantpt(*master) != 0 || unlockpt(*master) != 0)
        return false;
    *slave = ptsname(*master);
    return true;
}
}  // namespace

std::string CliBinary()
{
    const char* dir = getenv("PELTA_BIN_DIR");
    return std::string(dir && *dir ? dir : ".") + "/pelta-cli";
}

CliResult CliRun(const std::vector<std::string>& args, const std::string& interruptOn, bool terminal,
                 int timeoutMs)
{
    CliResult result;
    int outPipe[2], errPipe[2];
    int master = -1;
    std::string slave;
    if (pipe(errPipe) != 0)
        return result;
    if (terminal) {
        if (!TerminalOpen(&master, &slave))
            return result;
        outPipe[0] = master;
        outPipe[1] = -1;
    } else if (pipe(outPipe) != 0) {
        return result;
    }
    std::vector<std::string> argv = {CliBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (std::string& a : argv)
        cargs.push_back(&a[0]);
    cargs.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        int out = terminal ? open(slave.c_str(), O_RDWR) : outPipe[1];
        dup2(out, STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, STDIN_FILENO);
        execv(cargs[0], cargs.data());
        _exit(127);
    }
    if (!terminal)
        close(outPipe[1]);
    close(errPipe[1]);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool outOpen = true, errOpen = true;
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
        struct pollfd p[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
        if (poll(p, 2, kPollMs) <= 0)
            continue;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(p[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                (i == 0 ? outOpen : errOpen) = false;
                continue;
            }
            (i == 0 ? result.out : result.err).append(buffer, (size_t)n);
        }
        if (!interruptOn.empty() && !result.interrupted && result.out.find(interruptOn) != std::string::npos) {
            kill(pid, SIGINT);
            result.interrupted = true;
        }
    }
    int status = 0;
    if (outOpen || errOpen) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else {
        waitpid(pid, &status, 0);
        result.exitCode = ExitOf(status);
    }
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
}
