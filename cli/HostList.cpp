#include "cli/HostList.h"

#include <glib.h>

#include <cstring>

#include "base/Messages.h"

namespace {
const char kHostMark[] = "{host}";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}
}  // namespace

bool HostListRead(const std::string& path, std::vector<std::string>* hosts, std::string* error)
{
    gchar* contents = nullptr;
    GError* failure = nullptr;
    if (!g_file_get_contents(path.c_str(), &contents, nullptr, &failure)) {
        *error = TrArgs("Cannot read the host list '^0': ^1", path.c_str(), failure->message).Text();
        g_error_free(failure);
        return false;
    }
    bool ok = true;
    int lineNumber = 0;
    gchar** lines = g_strsplit(contents, "\n", -1);
    for (gchar** line = lines; ok && *line; ++line) {
        ++lineNumber;
        std::string text(*line);
        size_t hash = text.find('#');
        if (hash != std::string::npos)
            text.erase(hash);
        size_t begin = 0;
        while (begin < text.size() && IsBlank(text[begin]))
            ++begin;
        size_t end = text.size();
        while (end > begin && IsBlank(text[end - 1]))
            --end;
        if (begin == end)
            continue;
        std::string word = text.substr(begin, end - begin);
        for (char c : word)
            if (IsBlank(c)) {
                *error = TrArgs("Host list '^0', line ^1: one address per line", path.c_str(),
                                std::to_string(lineNumber).c_str()).Text();
                ok = false;
                break;
            }
        if (ok)
            hosts->push_back(word);
    }
    g_strfreev(lines);
    g_free(contents);
    return ok;
}

std::string HostPatternApply(const std::string& pattern, const std::string& host)
{
    std::string out;
    const size_t markLength = strlen(kHostMark);
    size_t from = 0;
    for (;;) {
        size_t at = pattern.find(kHostMark, from);
        if (at == std::string::npos)
            break;
        out.append(pattern, from, at - from);
        out += host;
        from = at + markLength;
    }
    out.append(pattern, from, std::string::npos);
    return out;
}
