// Where a many-unit run reports: the units' log lines on standard output (each after its
// host), on a terminal a progress line per running unit below them, or JSON lines instead;
// optionally every line also into a log file; and at the end a table of the units. One lock
// keeps the lines of different units whole.
#pragma once
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

// A piece of a log line in one style.
struct LineSegment {
    int style;
    std::string text;
};

// How one unit ended.
enum class UnitResult { OK, Error, Aborted };

struct UnitOutcome {
    std::string host;
    UnitResult result = UnitResult::Aborted;
    double elapsed = 0;      // seconds from its start; 0 when it never started
    std::string firstError;  // the first error line of its log, without time stamp
    std::string version;     // the firmware version where the operation read it
};

class MultiOutput {
public:
    // out: standard output; terminal: out is a terminal (colours, progress lines); json: JSON
    // lines instead of text; log: also every line there (may be null). hosts: every unit's
    // host, for the width of the host column.
    MultiOutput(FILE* out, bool terminal, bool json, FILE* log, const std::vector<std::string>& hosts);

    // A finished log line of a unit: the time stamp (0: none), the time-and-indent prefix and
    // its pieces.
    void Line(const std::string& host, time_t stamp, const std::string& prefix,
              const std::vector<LineSegment>& segments);
    // JSON only: a progress event (the caller thins them out).
    void Progress(const std::string& host, int64_t done, int64_t total);
    void UnitEnd(const UnitOutcome& outcome);
    // Terminal only: the progress lines of the running units, drawn below the log lines.
    void StatusDraw(const std::vector<std::string>& lines);
    // The table (text) or the summary object (JSON), and the table into the log file.
    void Summary(const std::vector<UnitOutcome>& units, int exitCode, double elapsed);
    // Everything held goes out (main thread, regularly, at the end and on Ctrl-C).
    void Flush();

    // The stable names of the result and of a log style in the JSON lines.
    static const char* ResultName(UnitResult result);
    static const char* StyleName(int style);

private:
    // With lock_ held.
    void StatusErase();
    void TextLine(FILE* to, bool colours, const std::string& host, const std::string& prefix,
                  const std::vector<LineSegment>& segments);
    void TableWrite(FILE* to, bool colours, const std::vector<UnitOutcome>& units);

    std::mutex lock_;
    FILE* out_;
    bool terminal_;
    bool json_;
    FILE* log_;
    size_t hostWidth_ = 0;
    size_t statusShown_ = 0;
};
