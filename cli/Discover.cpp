#include "cli/Discover.h"

#include <arpa/inet.h>
#include <glib.h>
#include <json-glib/json-glib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/Messages.h"

namespace {
const int kColumnCount = 5;
// Column titles as the window's list has them.
const char* const kColumnTitles[kColumnCount] = {"IP (connect)", "IP", "MAC", "ID", "Version"};
// JSON member names, in column order.
const char* const kJsonNames[kColumnCount] = {"ip_connect", "ip", "mac", "id", "version"};
const int kMaxPort = 65535;
const char kColumnGap[] = "  ";

const std::string* Cell(const FoundUnits::Row& row, int column)
{
    const std::string* cells[kColumnCount] = {&row.ipConnect, &row.ip, &row.mac, &row.id, &row.version};
    return cells[column];
}

// Width on a terminal: characters, not bytes (identifiers are often Cyrillic).
size_t TextWidth(const std::string& text)
{
    return (size_t)g_utf8_strlen(text.c_str(), (gssize)text.size());
}

void CellPrint(FILE* out, const std::string& text, size_t width, bool last)
{
    fputs(text.c_str(), out);
    if (last)
        return;
    for (size_t w = TextWidth(text); w < width; ++w)
        fputc(' ', out);
    fputs(kColumnGap, out);
}

// The value of "--name value" or "--name=value" at argv[*i]; null when argv[*i] is not --name.
// *missing is set when --name is there without a value.
const char* ValueOf(const char* name, int argc, char** argv, int* i, bool* missing)
{
    const size_t n = strlen(name);
    const char* arg = argv[*i];
    *missing = false;
    if (strncmp(arg, name, n) != 0 || (arg[n] != '\0' && arg[n] != '='))
        return nullptr;
    if (arg[n] == '=')
        return arg + n + 1;
    if (*i + 1 >= argc) {
        *missing = true;
        return nullptr;
    }
    return argv[++*i];
}
}  // namespace

int DiscoverOptionParse(int argc, char** argv, int* i, DiscoverRequest* request, std::string* error)
{
    if (strcmp(argv[*i], "--json") == 0) {
        request->json = true;
        return 1;
    }
    bool missing = false;
    const char* value = ValueOf("--broadcast", argc, argv, i, &missing);
    if (value || missing) {
        if (!value || !*value) {
            *error = "--broadcast needs an IPv4 address";
            return -1;
        }
        request->broadcast = value;
        return 1;
    }
    value = ValueOf("--port", argc, argv, i, &missing);
    if (!value && !missing)
        return 0;
    char* end = nullptr;
    long port = value ? strtol(value, &end, 10) : 0;
    if (!value || !*value || *end || port < 1 || port > kMaxPort) {
        *error = std::string("--port needs a number from 1 to 65535") + (value ? std::string(", not '") + value + "'" : "");
        return -1;
    }
    request->port = (int)port;
    return 1;
}

bool DiscoverOptionsMake(const DiscoverRequest& request, DiscoveryOptions* options, std::string* error)
{
    options->port = (uint16_t)request.port;
    options->directedAddress = 0;
    if (request.broadcast.empty())
        return true;
    in_addr address;
    if (inet_pton(AF_INET, request.broadcast.c_str(), &address) != 1 || address.s_addr == 0) {
        *error = "--broadcast needs an IPv4 address, not '" + request.broadcast + "'";
        return false;
    }
    options->directedAddress = address.s_addr;
    return true;
}

void FoundUnits::Clear()
{
    std::lock_guard<std::mutex> hold(lock_);
    rows_.clear();
}

void FoundUnits::Add(const DFIND_DevInfo& unit)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (unit.row != (int)rows_.size())
        return;
    rows_.push_back(Row{unit.ipConnect.Text(), unit.ip.Text(), unit.mac.Text(), unit.id.Text(), unit.version.Text()});
}

void FoundUnits::Update(const DFIND_DevInfo& unit)
{
    std::lock_guard<std::mutex> hold(lock_);
    if (unit.row < 0 || unit.row >= (int)rows_.size())
        return;
    rows_[(size_t)unit.row].id = unit.id.Text();
    rows_[(size_t)unit.row].version = unit.version.Text();
}

std::vector<FoundUnits::Row> FoundUnits::Rows()
{
    std::lock_guard<std::mutex> hold(lock_);
    return rows_;
}

void FoundUnits::PrintTable(FILE* out)
{
    const std::vector<Row> rows = Rows();
    std::string titles[kColumnCount];
    size_t widths[kColumnCount];
    for (int c = 0; c < kColumnCount; ++c) {
        titles[c] = Tr(kColumnTitles[c]).Text();
        widths[c] = TextWidth(titles[c]);
        for (const Row& row : rows)
            widths[c] = std::max(widths[c], TextWidth(*Cell(row, c)));
    }
    for (int c = 0; c < kColumnCount; ++c)
        CellPrint(out, titles[c], widths[c], c == kColumnCount - 1);
    fputc('\n', out);
    for (const Row& row : rows) {
        for (int c = 0; c < kColumnCount; ++c)
            CellPrint(out, *Cell(row, c), widths[c], c == kColumnCount - 1);
        fputc('\n', out);
    }
    fflush(out);
}

void FoundUnits::PrintJson(FILE* out)
{
    JsonGenerator* generator = json_generator_new();
    for (const Row& row : Rows()) {
        JsonBuilder* builder = json_builder_new();
        json_builder_begin_object(builder);
        for (int c = 0; c < kColumnCount; ++c) {
            json_builder_set_member_name(builder, kJsonNames[c]);
            json_builder_add_string_value(builder, Cell(row, c)->c_str());
        }
        json_builder_end_object(builder);
        JsonNode* root = json_builder_get_root(builder);
        json_generator_set_root(generator, root);
        gchar* text = json_generator_to_data(generator, nullptr);
        fprintf(out, "%s\n", text);
        g_free(text);
        json_node_free(root);
        g_object_unref(builder);
    }
    g_object_unref(generator);
    fflush(out);
}

void DiscoverPrint(FoundUnits& units, bool json, FILE* out)
{
    if (json)
        units.PrintJson(out);
    else
        units.PrintTable(out);
}
