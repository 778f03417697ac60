#include "cli/MultiRun.h"

#include <glib.h>
#include <poll.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "base/Messages.h"
#include "cli/Interrupts.h"
#include "cli/MultiOutput.h"
#include "cli/UnitRun.h"

namespace {
// The main thread looks at the units and redraws the progress lines this often.
const int kTurnMs = 100;

// A log file the run appends to; null with the reason on standard error when it cannot.
FILE* LogFileOpen(const std::string& path)
{
    if (path.empty())
        return nullptr;
    FILE* f = fopen(path.c_str(), "a");
    if (!f)
        fprintf(stderr, "pelta-cli: %s\n", TrArgs("Cannot open the log file '^0': ^1", path.c_str(),
                                                  g_strerror(errno)).Text());
    return f;
}

int ExitCodeOf(const std::vector<UnitOutcome>& outcomes, bool interrupted)
{
    if (interrupted)
        return kExitAborted;
    for (const UnitOutcome& o : outcomes)
        if (o.result != UnitResult::OK)
            return o.result == UnitResult::Aborted ? kExitAborted : kExitFailed;
    return kExitOk;
}
}  // namespace

int MultiRun(const CliRequest& request, const ImageFile& image, int wakeRead, int wakeWrite, char stopByte)
{
    FILE* log = LogFileOpen(request.logFile);
    if (!request.logFile.empty() && !log)
        return kExitUsage;
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    MultiOutput out(stdout, terminal, request.json, log, request.hosts);
    std::vector<std::unique_ptr<UnitRun>> units;
    for (const std::string& host : request.hosts)
        units.emplace_back(new UnitRun(request, host, &out, wakeWrite));

    const int64_t startUs = g_get_monotonic_time();
    std::vector<UnitRun*> running;
    size_t next = 0;
    bool interrupted = false;
    for (;;) {
        // Workers start with both signals blocked (they inherit the mask), so that a Ctrl-C
        // never cuts one of their socket calls short; this thread takes them while it waits.
        InterruptsBlock();
        while (!interrupted && running.size() < (size_t)request.jobs && next < units.size()) {
            UnitRun* unit = units[next++].get();
            if (unit->Start(image))
                running.push_back(unit);
            else
                unit->Finish();
        }
        InterruptsUnblock();
        if (running.empty())
            break;
        if (terminal && !request.json) {
            std::vector<std::string> lines;
            for (UnitRun* unit : running)
                lines.push_back(unit->Outcome().host + "  " + unit->StatusLine());
            out.StatusDraw(lines);
        }
        struct pollfd p = {wakeRead, POLLIN, 0};
        if (poll(&p, 1, kTurnMs) > 0) {
            char bytes[64];
            ssize_t n = read(wakeRead, bytes, sizeof bytes);
            for (ssize_t i = 0; i < n; ++i)
                if (bytes[i] == stopByte)
                    interrupted = true;
        }
        // Every turn after a Ctrl-C: a unit that was opening its channel at the first press
        // is shut down at a later one.
        if (interrupted) {
            for (UnitRun* unit : running)
                unit->Stop();
            out.Flush();
        }
        for (size_t i = 0; i < running.size();) {
            if (running[i]->Busy()) {
                ++i;
                continue;
            }
            running[i]->Finish();
            running.erase(running.begin() + (long)i);
        }
        out.Flush();
    }
    for (size_t i = next; i < units.size(); ++i)
        units[i]->Skip();

    std::vector<UnitOutcome> outcomes;
    for (const auto& unit : units)
        outcomes.push_back(unit->Outcome());
    const int code = ExitCodeOf(outcomes, interrupted);
    out.Summary(outcomes, code, (double)(g_get_monotonic_time() - startUs) / 1e6);
    out.Flush();
    units.clear();
    if (log)
        fclose(log);
    return code;
}
