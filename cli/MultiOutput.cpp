#include "cli/MultiOutput.h"

#include <json-glib/json-glib.h>

#include "base/LogTypes.h"
#include "base/Messages.h"
#include "operations/OperationRunner.h"

namespace {
struct StyleEntry {
    int style;
    const char* name;  // in the JSON lines
    const char* sgr;   // on a terminal, close to the window's log tags
};
const StyleEntry kStyles[] = {
    {LogStylePlain, "plain", nullptr},
    {LogStyleTraffic, "traffic", nullptr},
    {LogStyleAttention, "attention", "\033[1;34m"},
    {LogStyleMonospace, "monospace", nullptr},
    {LogStyleError, "error", "\033[31m"},
    {LogStyleResultOK, "result-ok", "\033[1;32m"},
    {LogStyleResultConform, "result-conform", "\033[1;32m"},
    {LogStyleResultNotConform, "result-not-conform", "\033[1;31m"},
    {LogStyleResultError, "result-error", "\033[1;31m"},
    {LogStyleResultAborted, "result-aborted", "\033[1;31m"},
};
const char kSgrReset[] = "\033[0m";
const char kSgrBold[] = "\033[1m";

struct ResultEntry {
    UnitResult result;
    const char* name;
    OperationResult runnerResult;  // for the translated word and its style
};
const ResultEntry kResults[] = {
    {UnitResult::OK, "OK", OperationResult::OK},
    {UnitResult::Error, "ERROR", OperationResult::Error},
    {UnitResult::Aborted, "ABORTED", OperationResult::Aborted},
};

const StyleEntry* StyleFind(int style)
{
    for (const StyleEntry& e : kStyles)
        if (e.style == style)
            return &e;
    return nullptr;
}

const ResultEntry& ResultFind(UnitResult result)
{
    for (const ResultEntry& e : kResults)
        if (e.result == result)
            return e;
    return kResults[0];
}

// The style a line is known by: its last piece that is not plain.
int LineStyle(const std::vector<LineSegment>& segments)
{
    int style = LogStylePlain;
    for (const LineSegment& s : segments)
        if (s.style != LogStylePlain)
            style = s.style;
    return style;
}

// One object as one line; the builder holds a finished object.
void JsonLineWrite(FILE* to, JsonBuilder* builder)
{
    JsonNode* root = json_builder_get_root(builder);
    JsonGenerator* generator = json_generator_new();
    json_generator_set_root(generator, root);
    gchar* text = json_generator_to_data(generator, nullptr);
    fputs(text, to);
    fputc('\n', to);
    g_free(text);
    g_object_unref(generator);
    json_node_unref(root);
    g_object_unref(builder);
}

JsonBuilder* JsonObjectStart(const char* type, const std::string* host)
{
    JsonBuilder* b = json_builder_new();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "type");
    json_builder_add_string_value(b, type);
    if (host) {
        json_builder_set_member_name(b, "host");
        json_builder_add_string_value(b, host->c_str());
    }
    return b;
}

void JsonMember(JsonBuilder* b, const char* name, const std::string& value)
{
    json_builder_set_member_name(b, name);
    json_builder_add_string_value(b, value.c_str());
}

void JsonMember(JsonBuilder* b, const char* name, int64_t value)
{
    json_builder_set_member_name(b, name);
    json_builder_add_int_value(b, value);
}

// Whole milliseconds: as exact as the clock behind them is meaningful, and no float noise.
int64_t Milliseconds(double seconds)
{
    return (int64_t)(seconds * 1000 + 0.5);
}

std::string SecondsText(double seconds)
{
    char number[32];
    snprintf(number, sizeof number, "%.1f", seconds);
    return TrArgs("^0 s", number).Text();
}

// Pads text to width display columns (UTF-8 aware).
std::string Padded(const std::string& text, size_t width)
{
    size_t columns = g_utf8_validate(text.c_str(), -1, nullptr) ? g_utf8_strlen(text.c_str(), -1) : text.size();
    return columns >= width ? text : text + std::string(width - columns, ' ');
}

size_t Columns(const std::string& text)
{
    return g_utf8_validate(text.c_str(), -1, nullptr) ? g_utf8_strlen(text.c_str(), -1) : text.size();
}
}  // namespace

const char* MultiOutput::ResultName(UnitResult result)
{
    return ResultFind(result).name;
}

const char* MultiOutput::StyleName(int style)
{
    const StyleEntry* e = StyleFind(style);
    return e ? e->name : "plain";
}

MultiOutput::MultiOutput(FILE* out, bool terminal, bool json, FILE* log, const std::vector<std::string>& hosts)
    : out_(out), terminal_(terminal && !json), json_(json), log_(log)
{
    for (const std::string& h : hosts)
        hostWidth_ = std::max(hostWidth_, Columns(h));
}

void MultiOutput::TextLine(FILE* to, bool colours, const std::string& host, const std::string& prefix,
                           const std::vector<LineSegment>& segments)
{
    fputs(Padded(host, hostWidth_).c_str(), to);
    fputs("  ", to);
    fputs(prefix.c_str(), to);
    for (const LineSegment& s : segments) {
        const StyleEntry* e = colours ? StyleFind(s.style) : nullptr;
        if (e && e->sgr)
            fputs(e->sgr, to);
        fputs(s.text.c_str(), to);
        if (e && e->sgr)
            fputs(kSgrReset, to);
    }
    fputc('\n', to);
}

void MultiOutput::StatusErase()
{
    if (!statusShown_)
        return;
    // Back to the first progress line, and everything from there on goes.
    fprintf(out_, "\033[%zuF\033[J", statusShown_);
    statusShown_ = 0;
}

void MultiOutput::Line(const std::string& host, time_t stamp, const std::string& prefix,
                       const std::vector<LineSegment>& segments)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (log_)
        TextLine(log_, false, host, prefix, segments);
    if (json_) {
        std::string text;
        for (const LineSegment& s : segments)
            text += s.text;
        JsonBuilder* b = JsonObjectStart("log", &host);
        JsonMember(b, "time", (int64_t)stamp);
        JsonMember(b, "style", std::string(StyleName(LineStyle(segments))));
        JsonMember(b, "text", text);
        json_builder_end_object(b);
        JsonLineWrite(out_, b);
        return;
    }
    StatusErase();
    TextLine(out_, terminal_, host, prefix, segments);
}

void MultiOutput::Progress(const std::string& host, int64_t done, int64_t total)
{
    if (!json_)
        return;
    std::lock_guard<std::mutex> hold(lock_);
    JsonBuilder* b = JsonObjectStart("progress", &host);
    JsonMember(b, "done", done);
    JsonMember(b, "total", total);
    json_builder_end_object(b);
    JsonLineWrite(out_, b);
}

void MultiOutput::UnitEnd(const UnitOutcome& o)
{
    if (!json_)
        return;
    std::lock_guard<std::mutex> hold(lock_);
    JsonBuilder* b = JsonObjectStart("end", &o.host);
    JsonMember(b, "result", std::string(ResultName(o.result)));
    JsonMember(b, "elapsed_ms", Milliseconds(o.elapsed));
    JsonMember(b, "error", o.firstError);
    if (!o.version.empty())
        JsonMember(b, "version", o.version);
    json_builder_end_object(b);
    JsonLineWrite(out_, b);
}

void MultiOutput::StatusDraw(const std::vector<std::string>& lines)
{
    if (!terminal_)
        return;
    std::lock_guard<std::mutex> hold(lock_);
    StatusErase();
    for (const std::string& line : lines)
        fprintf(out_, "%s\n", line.c_str());
    statusShown_ = lines.size();
    fflush(out_);
}

void MultiOutput::TableWrite(FILE* to, bool colours, const std::vector<UnitOutcome>& units)
{
    const std::string head[4] = {Tr("Host").Text(), Tr("Result").Text(), Tr("Elapsed").Text(),
                                 Tr("First error").Text()};
    size_t width[3] = {Columns(head[0]), Columns(head[1]), Columns(head[2])};
    std::vector<std::string> words, times;
    for (const UnitOutcome& u : units) {
        int style = 0;
        words.push_back(ResultWord(ResultFind(u.result).runnerResult, &style).Text());
        times.push_back(SecondsText(u.elapsed));
        width[0] = std::max(width[0], Columns(u.host));
        width[1] = std::max(width[1], Columns(words.back()));
        width[2] = std::max(width[2], Columns(times.back()));
    }
    fprintf(to, "%s%s  %s  %s  %s%s\n", colours ? kSgrBold : "", Padded(head[0], width[0]).c_str(),
            Padded(head[1], width[1]).c_str(), Padded(head[2], width[2]).c_str(), head[3].c_str(),
            colours ? kSgrReset : "");
    for (size_t i = 0; i < units.size(); ++i) {
        int style = 0;
        ResultWord(ResultFind(units[i].result).runnerResult, &style);
        const StyleEntry* e = colours ? StyleFind(style) : nullptr;
        const std::string time = std::string(width[2] - Columns(times[i]), ' ') + times[i];
        fprintf(to, "%s  %s%s%s  %s  %s\n", Padded(units[i].host, width[0]).c_str(), e && e->sgr ? e->sgr : "",
                Padded(words[i], width[1]).c_str(), e && e->sgr ? kSgrReset : "", time.c_str(),
                units[i].firstError.c_str());
    }
}

void MultiOutput::Summary(const std::vector<UnitOutcome>& units, int exitCode, double elapsed)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (log_)
        TableWrite(log_, false, units);
    if (!json_) {
        StatusErase();
        TableWrite(out_, terminal_, units);
        return;
    }
    int64_t count[3] = {0, 0, 0};
    for (const UnitOutcome& u : units)
        ++count[(int)u.result];
    JsonBuilder* b = JsonObjectStart("summary", nullptr);
    JsonMember(b, "units", (int64_t)units.size());
    JsonMember(b, "ok", count[(int)UnitResult::OK]);
    JsonMember(b, "error", count[(int)UnitResult::Error]);
    JsonMember(b, "aborted", count[(int)UnitResult::Aborted]);
    JsonMember(b, "exit", (int64_t)exitCode);
    JsonMember(b, "elapsed_ms", Milliseconds(elapsed));
    json_builder_end_object(b);
    JsonLineWrite(out_, b);
}

void MultiOutput::Flush()
{
    std::lock_guard<std::mutex> hold(lock_);
    fflush(out_);
    if (log_)
        fflush(log_);
}
