#include "tests/cli/CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

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
// True while sig is pending for the whole process (sent, not yet taken by a thread).
bool SignalPending(pid_t pid, int sig)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.compare(0, 7, "ShdPnd:") == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
    return false;
}

// Sends the signals one by one, each after the child took the one before (two pending signals
// of one kind would merge into one).
void SignalsSend(pid_t pid, const CliOptions& options)
{
    for (int k = 0; k < options.signalCount; ++k) {
        kill(pid, options.signal);
        auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (SignalPending(pid, options.signal) && std::chrono::steady_clock::now() < bound)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}
}  // namespace

// $PELTA_BIN_DIR/pelta-cli when set, else pelta-cli beside this test binary.
std::string CliBinary()
{
    const char* dir = getenv("PELTA_BIN_DIR");
    if (dir && *dir)
        return std::string(dir) + "/pelta-cli";
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string exe = n > 0 ? std::string(self, (size_t)n) : "./cli_tests";
    return exe.substr(0, exe.rfind('/')) + "/pelta-cli";
}

CliResult CliRun(const std::vector<std::string>& args, const std::string& interruptOn, bool terminal,
                 int timeoutMs)
{
    CliOptions options;
    options.interruptOn = interruptOn;
    options.terminal = terminal;
    options.timeoutMs = timeoutMs;
    return CliRun(args, options);
}

CliResult CliRun(const std::vector<std::string>& args, const CliOptions& options)
{
    const std::string& interruptOn = options.interruptOn;
    const bool terminal = options.terminal;
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

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    bool outOpen = true, errOpen = true;
    int suspended = -1;  // the parent's own descriptor of the terminal while output is suspended
    int status = 0;
    bool reaped = false;
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
        // A suspended terminal never ends the parent's read: resume it once the child is gone.
        if (suspended >= 0 && waitpid(pid, &status, WNOHANG) == pid) {
            reaped = true;
            tcflow(suspended, TCOON);
            close(suspended);
            suspended = -1;
        }
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
            if (options.beforeSignal)
                options.beforeSignal(pid);
            if (terminal && options.suspendOutput) {
                suspended = open(slave.c_str(), O_RDWR | O_NOCTTY);
                tcflow(suspended, TCOOFF);
            }
            SignalsSend(pid, options);
            result.interrupted = true;
        }
    }
    if (suspended >= 0) {
        tcflow(suspended, TCOON);
        close(suspended);
    }
    if (outOpen || errOpen) {
        kill(pid, SIGKILL);
        if (!reaped)
            waitpid(pid, &status, 0);
    } else {
        if (!reaped)
            waitpid(pid, &status, 0);
        result.exitCode = ExitOf(status);
    }
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
}

std::vector<std::string> CliLines(const std::string& text)
{
    static const std::regex stamp("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]  ");
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(std::regex_replace(line, stamp, "~ ", std::regex_constants::format_first_only));
    return lines;
}

void CliSimTest::Start(std::vector<std::string> simArgs)
{
    if (sim_)
        sim_->Stop();
    sim_.reset(new SimProcess(simArgs));
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error << sim_->Output();
}

void CliSimTest::TearDown()
{
    if (sim_)
        sim_->Stop();
    for (const std::string& f : files_)
        unlink(f.c_str());
}

std::string CliSimTest::File(const std::string& name, const std::string* text)
{
    const char* tmp = getenv("TMPDIR");
    files_.push_back(std::string(tmp && *tmp ? tmp : "/tmp") + "/pelta-cli-" + std::to_string(getpid()) + "-" + name);
    if (text)
        std::ofstream(files_.back(), std::ios::binary | std::ios::trunc) << *text;
    return files_.back();
}

CliResult CliSimTest::Run(std::vector<std::string> args, const CliOptions& options)
{
    args.insert(args.end(), {"--host", sim_->HostPort()});
    return CliRun(args, options);
}
