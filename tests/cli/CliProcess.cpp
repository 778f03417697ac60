#include "tests/cli/CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace {
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

// $PELTA_BIN_DIR/pelta-cli when set, else pelta-cli beside this test binary.
std::string CliBinary()
{
    if (const char* dir = getenv("PELTA_BIN_DIR"); dir && *dir)
        return std::string(dir) + "/pelta-cli";
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string exe = n > 0 ? std::string(self, (size_t)n) : "./cli_tests";
    return exe.substr(0, exe.rfind('/')) + "/pelta-cli";
}
}  // namespace

CliResult CliRun(const std::vector<std::string>& args, const CliOptions& options)
{
    CliResult result;
    int out[2] = {-1, -1}, err[2];
    std::string slave;  // the terminal's path for the child
    if (options.terminal) {
        out[0] = posix_openpt(O_RDWR | O_NOCTTY);
        if (out[0] < 0 || grantpt(out[0]) != 0 || unlockpt(out[0]) != 0)
            return result;
        slave = ptsname(out[0]);
    } else if (pipe(out) != 0) {
        return result;
    }
    if (pipe(err) != 0)
        return result;
    std::vector<std::string> argv = {CliBinary()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargs;
    for (std::string& a : argv)
        cargs.push_back(&a[0]);
    cargs.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        dup2(options.terminal ? open(slave.c_str(), O_RDWR) : out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        execv(cargs[0], cargs.data());
        _exit(127);
    }
    if (out[1] >= 0)
        close(out[1]);
    close(err[1]);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    bool live[2] = {true, true};
    int suspended = -1;  // the parent's own descriptor of the terminal while output is suspended
    int status = 0;
    bool reaped = false;
    while ((live[0] || live[1]) && std::chrono::steady_clock::now() < deadline) {
        // A suspended terminal never ends the parent's read: resume it once the child is gone.
        if (suspended >= 0 && waitpid(pid, &status, WNOHANG) == pid) {
            reaped = true;
            tcflow(suspended, TCOON);
            close(suspended);
            suspended = -1;
        }
        struct pollfd p[2] = {{live[0] ? out[0] : -1, POLLIN, 0}, {live[1] ? err[0] : -1, POLLIN, 0}};
        if (poll(p, 2, 50) <= 0)
            continue;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(p[i].fd, buffer, sizeof buffer);
            if (n <= 0)
                live[i] = false;
            else
                (i == 0 ? result.out : result.err).append(buffer, (size_t)n);
        }
        const std::string& on = options.interruptOn;
        if (!on.empty() && !result.interrupted && result.out.find(on) != std::string::npos) {
            if (options.beforeSignal)
                options.beforeSignal(pid);
            if (options.terminal && options.suspendOutput) {
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
    if (live[0] || live[1])
        kill(pid, SIGKILL);
    if (!reaped)
        waitpid(pid, &status, 0);
    if (!live[0] && !live[1])
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    close(out[0]);
    close(err[0]);
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
    sim_.reset(new SimProcess(simArgs));
    std::string error;
    ASSERT_TRUE(sim_->Start(&error)) << error << sim_->Output();
}

std::vector<std::unique_ptr<SimProcess>> CliSimTest::Sims(const std::vector<std::vector<std::string>>& args,
                                                          std::vector<std::string>* cli)
{
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (const auto& a : args) {
        sims.emplace_back(new SimProcess(a));
        std::string error;
        EXPECT_TRUE(sims.back()->Start(&error)) << error;
        cli->insert(cli->end(), {"--host", sims.back()->HostPort()});
    }
    return sims;
}

std::string CliSimTest::File(const std::string& name, const std::string* text)
{
    if (text && !WriteText(scratch_ / name, *text))
        ADD_FAILURE() << "cannot write " << name;
    return scratch_ / name;
}

std::string CliSimTest::Image(size_t size, const std::string& name)
{
    std::string bytes;
    for (size_t i = 0; i < size; ++i)
        bytes += (char)(i * 7 + 3);
    return File(name, bytes);
}

CliResult CliSimTest::Run(std::vector<std::string> args, const CliOptions& options)
{
    args.insert(args.end(), {"--host", sim_->HostPort()});
    return CliRun(args, options);
}
