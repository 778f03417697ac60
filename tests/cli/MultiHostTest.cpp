// pelta-cli on many units: the arguments, eight simulators of which four misbehave, and
// Ctrl-C in the middle of a run.
#include <gtest/gtest.h>
#include <json-glib/json-glib.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <sstream>

#include "cli/CliArgs.h"
#include "cli/HostList.h"
#include "tests/cli/CliProcess.h"
#include "tests/support/SimProcess.h"

namespace {

std::string TempDir()
{
    char name[] = "/tmp/pelta-multi-XXXXXX";
    return mkdtemp(name) ? name : "";
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Parse(std::vector<std::string> args, CliRequest* request, std::string* error)
{
    args.insert(args.begin(), "pelta-cli");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    return CliArgsParse((int)argv.size(), argv.data(), request, error);
}

// The simulators, started together; the test's image is 100 records.
std::vector<std::unique_ptr<SimProcess>> Sims(const std::vector<std::vector<std::string>>& args)
{
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (const auto& a : args) {
        sims.emplace_back(new SimProcess(a));
        std::string error;
        EXPECT_TRUE(sims.back()->Start(&error)) << error;
    }
    return sims;
}

std::string ImageFile(const std::string& dir)
{
    std::string path = dir + "/image.bin";
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 1200; ++i)
        out.put((char)(i * 7 + 3));
    return path;
}
}  // namespace

TEST(MultiHostArguments, HostsJobsJsonAndTheOutPattern)
{
    const std::string dir = TempDir();
    const std::string list = dir + "/units.txt";
    std::ofstream(list) << "# batch 7\n10.0.0.1\r\n\n \t \n  10.0.0.2:1502\t# spare\n";
    std::ofstream(dir + "/bad.txt") << "10.0.0.1 10.0.0.2\n";
    struct Case {
        std::vector<std::string> args;
        const char* error;  // null: accepted
        size_t hosts;
        bool multi;
    } cases[] = {
        {{"version", "--host", "10.0.0.9"}, nullptr, 1, false},
        {{"version", "--host", "a", "--host", "b", "--jobs=3"}, nullptr, 2, true},
        {{"reboot", "--host", "a", "--json"}, nullptr, 1, true},
        {{"test-gateway", "--hosts", list, "--host", "10.0.0.3"}, nullptr, 3, true},
        {{"settings-read", "{host}.xml", "--hosts", list}, nullptr, 2, true},
        {{"settings-read", "out.xml", "--hosts", list}, "must hold {host}", 0, false},
        {{"version", "--host", "a", "--jobs", "0"}, "--jobs needs a number from 1", 0, false},
        {{"version", "--hosts", dir + "/bad.txt"}, "line 1: one address per line", 0, false},
        {{"version", "--hosts", dir + "/none.txt"}, "Cannot read the host list", 0, false},
        {{"version", "--log", "x.log"}, "--host ADDR[:PORT] is required", 0, false},
        {{"settings-check", "f.xml", "--log", "x.log"}, "do not apply to settings-check", 0, false},
        {{"settings-check", "f.xml", "--json"}, "--json does not apply", 0, false},
    };
    for (const Case& c : cases) {
        CliRequest request;
        std::string error;
        bool ok = Parse(c.args, &request, &error);
        const std::string name = c.args[0] + " " + c.args[1];
        if (c.error) {
            EXPECT_FALSE(ok) << name;
            EXPECT_NE(error.find(c.error), std::string::npos) << name << ": " << error;
            continue;
        }
        EXPECT_TRUE(ok) << name << ": " << error;
        EXPECT_EQ(request.hosts.size(), c.hosts) << name;
        EXPECT_EQ(request.multi, c.multi) << name;
    }
    CliRequest request;
    std::string error;
    ASSERT_TRUE(Parse({"version", "--hosts", list, "--jobs", "3", "--json"}, &request, &error)) << error;
    EXPECT_EQ(request.hosts, (std::vector<std::string>{"10.0.0.1", "10.0.0.2:1502"}));
    EXPECT_EQ(request.jobs, 3);
    EXPECT_TRUE(request.json);
    EXPECT_EQ(HostPatternApply("d/{host}-{host}.xml", "10.0.0.2:1502"), "d/10.0.0.2:1502-10.0.0.2:1502.xml");
    CliRequest discover;
    ASSERT_TRUE(Parse({"discover", "--json"}, &discover, &error)) << error;
    EXPECT_TRUE(discover.discover.json);
}

// Four good units and four that fail each their own way: every unit's end in JSON lines that
// all parse, the table in the log file, exit 1; the good ones hold the whole image.
TEST(MultiHost, EightUnitsFourFaultsSayWhichFailedAndWhy)
{
    const std::string dir = TempDir();
    std::vector<std::vector<std::string>> args;
    for (int i = 0; i < 4; ++i)
        args.push_back({"--state-dir", dir + "/good" + std::to_string(i)});
    const std::map<int, std::string> why = {
        {4, "Read record result not ok: 2"},  // wrong result code on record 3
        {5, "No data (timeout)"},             // one answer a minute late
        {6, "No data (EOF)"},                 // the connection closes
        {7, "ILLEGAL DATA VALUE"},            // the unit's password is 7, the tool sends 1
    };
    args.push_back({"--fault-result", "3:2"});
    args.push_back({"--fault-after", "3", "--fault-delay", "60000:1"});
    args.push_back({"--fault-after", "3", "--fault-close", "0:all"});
    args.push_back({"--password", "7"});
    auto sims = Sims(args);
    std::vector<std::string> cli = {"write-firmware", ImageFile(dir), "--json", "--log", dir + "/run.log"};
    for (auto& sim : sims) {
        cli.push_back("--host");
        cli.push_back(sim->HostPort());
    }
    CliResult r = CliRun(cli, CliOptions{});
    EXPECT_EQ(r.exitCode, kFailed) << r.err;

    std::map<std::string, std::pair<std::string, std::string>> ends;  // host: result, error
    std::istringstream lines(r.out);
    int64_t summaryExit = -1;
    for (std::string line; std::getline(lines, line);) {
        JsonParser* parser = json_parser_new();
        ASSERT_TRUE(json_parser_load_from_data(parser, line.c_str(), -1, nullptr)) << line;
        JsonObject* o = json_node_get_object(json_parser_get_root(parser));
        const std::string type = json_object_get_string_member(o, "type");
        if (type == "end")
            ends[json_object_get_string_member(o, "host")] = {json_object_get_string_member(o, "result"),
                                                             json_object_get_string_member(o, "error")};
        if (type == "summary")
            summaryExit = json_object_get_int_member(o, "exit");
        g_object_unref(parser);
    }
    EXPECT_EQ(summaryExit, kFailed);
    const std::string log = FileText(dir + "/run.log");
    for (size_t i = 0; i < sims.size(); ++i) {
        const std::string host = sims[i]->HostPort();
        const bool good = why.count((int)i) == 0;
        EXPECT_EQ(ends[host].first, good ? "OK" : "ERROR") << host;
        if (good)
            EXPECT_EQ(ends[host].second, "") << host;
        else
            EXPECT_NE(ends[host].second.find(why.at((int)i)), std::string::npos) << host << ": " << ends[host].second;
        // The table row: host, result, and the same first error line.
        const std::string row = host + "  " + (good ? "OK     " : "ERROR  ");
        size_t at = log.find("\n" + row);
        ASSERT_NE(at, std::string::npos) << row << "\n" << log;
        EXPECT_NE(log.substr(at + 1, log.find('\n', at + 1) - at - 1).find(ends[host].second), std::string::npos);
        if (good) {
            struct stat st;
            ASSERT_EQ(stat((dir + "/good" + std::to_string(i) + "/staged-firmware.rec").c_str(), &st), 0);
            EXPECT_EQ(st.st_size, 101 * 16) << host;  // header and 100 records
        }
    }
}

// Ctrl-C while the first two of three units write, on a terminal (progress lines, colours):
// both end ABORTED (or OK), the third never starts, exit 3.
TEST(MultiHost, CtrlCStopsTheRunningUnitsAndStartsNoMore)
{
    const std::string dir = TempDir();
    auto sims = Sims({{"--fault-delay", "100"}, {"--fault-delay", "100"}, {}});
    std::vector<std::string> cli = {"write-firmware", ImageFile(dir), "--jobs", "2"};
    for (auto& sim : sims) {
        cli.push_back("--host");
        cli.push_back(sim->HostPort());
    }
    CliOptions options;
    options.interruptOn = "Device talk...";
    options.terminal = true;
    CliResult r = CliRun(cli, options);
    ASSERT_TRUE(r.interrupted);
    r.out = std::regex_replace(r.out, std::regex("\x1b\\[[0-9;]*[A-Za-z]"), "");
    EXPECT_EQ(r.exitCode, kAborted) << r.out << r.err;
    const std::string table = r.out.substr(r.out.find("\nHost ") + 1);
    for (size_t i = 0; i < sims.size(); ++i) {
        const std::string host = sims[i]->HostPort();
        const size_t row = table.find("\n" + host + "  ");
        ASSERT_NE(row, std::string::npos) << table;
        const std::string result = table.substr(row + host.size() + 3, 7);
        EXPECT_TRUE(result == "ABORTED" || result == "OK     ") << host << ": " << result;
    }
    const std::string third = sims[2]->HostPort();
    EXPECT_NE(table.find(third + "  ABORTED"), std::string::npos) << table;
    // Its only line is its table row: no connection was ever opened.
    EXPECT_EQ(r.out.find(third), r.out.find("\n" + third + "  ABORTED") + 1) << r.out;
}
