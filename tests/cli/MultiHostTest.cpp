// pelta-cli on many units: the host list, eight simulators of which four misbehave, and
// Ctrl-C in the middle of a run.
#include <json-glib/json-glib.h>

#include <map>
#include <regex>
#include <sstream>

#include "cli/CliArgs.h"
#include "cli/HostList.h"
#include "tests/cli/CliProcess.h"

namespace {
using MultiHost = CliSimTest;

TEST_F(MultiHost, HostListJobsJsonAndTheOutPattern)
{
    CliRequest request;
    std::string error;
    auto parse = [&](Args args) {
        args.insert(args.begin(), "pelta-cli");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        request = CliRequest();
        return CliArgsParse((int)argv.size(), argv.data(), &request, &error);
    };
    // Comments, CR LF ends, a line of blanks and tabs around an address.
    const std::string list = File("units.txt", "# batch 7\n127.0.0.3\r\n\n \t \n  127.0.0.4:1502\t# spare\n");
    ASSERT_TRUE(parse({"version", "--hosts", list, "--host", "127.0.0.5", "--jobs=3"})) << error;
    EXPECT_EQ(request.hosts, (Args{"127.0.0.3", "127.0.0.4:1502", "127.0.0.5"}));
    EXPECT_EQ(request.jobs, 3);
    EXPECT_TRUE(request.multi);
    // One unit is a many-unit run only when asked for JSON.
    ASSERT_TRUE(parse({"version", "--host", "127.0.0.5"})) << error;
    EXPECT_FALSE(request.multi);
    ASSERT_TRUE(parse({"reboot", "--host", "127.0.0.5", "--json"})) << error;
    EXPECT_TRUE(request.multi && request.json);
    EXPECT_TRUE(parse({"settings-read", "{host}.xml", "--hosts", list})) << error;
    EXPECT_EQ(HostPatternApply("d/{host}-{host}.xml", "127.0.0.4:1502"), "d/127.0.0.4:1502-127.0.0.4:1502.xml");
}

// Four good units and four that fail each their own way: every unit's end in JSON lines that
// all parse, the table in the log file, exit 1; the good ones hold the whole image.
TEST_F(MultiHost, EightUnitsFourFaultsSayWhichFailedAndWhy)
{
    std::vector<Args> args;
    for (int i = 0; i < 4; ++i)
        args.push_back({"--state-dir", File("good" + std::to_string(i))});
    const std::map<int, std::string> why = {
        {4, "Read record result not ok: 2"},  // wrong result code on record 3
        {5, "SLAVE DEVICE FAILURE"},          // an exception answer to the fourth record
        {6, "No data (EOF)"},                 // the connection closes
        {7, "ILLEGAL DATA VALUE"},            // the unit's password is 7, the tool sends 1
    };
    args.push_back({"--fault-result", "3:2"});
    args.push_back({"--fault-after", "3", "--fault-exception", "21:4"});
    args.push_back({"--fault-after", "3", "--fault-close", "0:all"});
    args.push_back({"--password", "7"});
    // Ten records: what matters is which record fails, not how many follow.
    Args cli = {"write-firmware", Image(120), "--json", "--log", File("run.log")};
    auto sims = Sims(args, &cli);
    CliResult r = CliRun(cli);
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
    const std::string log = ReadText(File("run.log"));
    for (size_t i = 0; i < sims.size(); ++i) {
        const std::string host = sims[i]->HostPort();
        const bool good = why.count((int)i) == 0;
        EXPECT_EQ(ends[host].first, good ? "OK" : "ERROR") << host;
        const std::string& error = ends[host].second;
        EXPECT_NE(error.find(good ? "" : why.at((int)i)), std::string::npos) << host << ": " << error;
        EXPECT_EQ(good, error.empty()) << host << ": " << error;
        // The table row: host, result, and the same first error line.
        const std::string row = host + "  " + (good ? "OK     " : "ERROR  ");
        size_t at = log.find("\n" + row);
        ASSERT_NE(at, std::string::npos) << row << "\n" << log;
        EXPECT_NE(log.substr(at + 1, log.find('\n', at + 1) - at - 1).find(error), std::string::npos);
        if (good) {  // header and ten records
            EXPECT_EQ(ReadText(File("good" + std::to_string(i) + "/staged-firmware.rec")).size(), 11u * 16) << host;
        }
    }
}

// Ctrl-C while the first two of three units write, on a terminal (progress lines, colours):
// both end ABORTED (or OK), the third never starts, exit 3.
TEST_F(MultiHost, CtrlCStopsTheRunningUnitsAndStartsNoMore)
{
    Args cli = {"write-firmware", Image(1200), "--jobs", "2"};
    auto sims = Sims({{"--fault-delay", "100"}, {"--fault-delay", "100"}, {}}, &cli);
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
    // Each running unit has its state line (no time stamp) under the log while it runs.
    const std::string log = r.out.substr(0, r.out.find("\nHost "));
    EXPECT_TRUE(std::regex_search(log, std::regex("\n" + sims[0]->HostPort() + "  [^0-9]"))) << log;
    const std::string third = sims[2]->HostPort();
    EXPECT_NE(table.find(third + "  ABORTED"), std::string::npos) << table;
    // Its only line is its table row: no connection was ever opened.
    EXPECT_EQ(r.out.find(third), r.out.find("\n" + third + "  ABORTED") + 1) << r.out;
}
}  // namespace
