#include "tests/cli/CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/ScriptedPeer.h"

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

// $PELTA_BIN_DIR/pelta-cli when set, else pelta-cli beside this test binary.
std::string CliBinary()
{
    const char* dir = getenv("PELTA_BIN_DIR");
    const std::string exe = std::filesystem::read_symlink("/proc/self/exe");
    return (dir && *dir ? std::string(dir) : exe.substr(0, exe.rfind('/'))) + "/pelta-cli";
}
}  // namespace

CliResult CliRun(const Args& args, const CliOptions& options)
{
    CliResult result;
    int out[2] = {-1, -1}, err[2];
    std::string slave;  // the terminal's path for the child
    if (options.terminal && (out[0] = posix_openpt(O_RDWR | O_NOCTTY)) >= 0 && grantpt(out[0]) == 0 &&
        unlockpt(out[0]) == 0)
        slave = ptsname(out[0]);
    if ((options.terminal ? slave.empty() : pipe(out) != 0) || pipe(err) != 0)
        return result;
    std::string binary = CliBinary();
    std::vector<char*> argv = {&binary[0]};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        const int tty = options.terminal ? open(slave.c_str(), O_RDWR) : -1;
        dup2(options.terminal ? tty : out[1], STDOUT_FILENO);
        dup2(options.terminal ? tty : err[1], STDERR_FILENO);
        dup2(open("/dev/null", O_RDONLY), STDIN_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);  // -1 on a terminal
    close(err[1]);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    bool live[2] = {true, true}, reaped = false;
    int suspended = -1;  // the parent's own descriptor of the terminal while output is suspended
    int status = 0;
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
            // Each after the child took the one before: two pending signals of a kind merge.
            for (int k = 0; k < options.signalCount; ++k) {
                kill(pid, options.signal);
                WaitUntil([&] { return !SignalPending(pid, options.signal); }, 10000);
            }
            result.interrupted = true;
        }
    }
    close(suspended);  // the child, if still there, is killed below
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

void CliSimTest::Start(const Args& simArgs)
{
    Args unused;
    sim_ = std::move(Sims({simArgs}, &unused).front());
}

std::vector<std::unique_ptr<SimProcess>> CliSimTest::Sims(const std::vector<Args>& args, Args* cli)
{
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (const Args& a : args) {
        sims.emplace_back(new SimProcess(a));
        std::string error;
        EXPECT_TRUE(sims.back()->Start(&error)) << error;
        cli->insert(cli->end(), {"--host", sims.back()->HostPort()});
    }
    return sims;
}

std::string CliSimTest::File(const std::string& name, const std::optional<std::string>& text)
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

CliResult CliSimTest::Run(Args args, const CliOptions& options)
{
    args.insert(args.end(), {"--host", sim_->HostPort()});
    return CliRun(args, options);
}
