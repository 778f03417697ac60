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
    EXPECT_TRUE(request.jobs == 3 && request.multi) << request.jobs;
    // One unit is a many-unit run only when asked for JSON.
    EXPECT_TRUE(parse({"version", "--host", "127.0.0.5"}) && !request.multi) << error;
    EXPECT_TRUE(parse({"reboot", "--host", "127.0.0.5", "--json"}) && request.multi && request.json) << error;
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
    args.insert(args.end(), {{"--fault-result", "3:2"}, {"--fault-after", "3", "--fault-exception", "21:4"},
                             {"--fault-after", "3", "--fault-close", "0:all"}, {"--password", "7"}});
    const char* why[] = {"", "", "", "", "Read record result not ok: 2", "SLAVE DEVICE FAILURE", "No data (EOF)",
                         "ILLEGAL DATA VALUE"};  // the tool sends password 1
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
        auto text = [o](const char* name) { return std::string(json_object_get_string_member(o, name)); };
        if (text("type") == "end")
            ends[text("host")] = {text("result"), text("error")};
        if (text("type") == "summary")
            summaryExit = json_object_get_int_member(o, "exit");
        g_object_unref(parser);
    }
    EXPECT_EQ(summaryExit, kFailed);
    const std::string log = ReadText(File("run.log"));
    for (size_t i = 0; i < sims.size(); ++i) {
        const std::string host = sims[i]->HostPort(), error = ends[host].second;
        SCOPED_TRACE(host + ": " + error);
        EXPECT_EQ(ends[host].first, i < 4 ? "OK" : "ERROR");
        EXPECT_TRUE(i < 4 ? error.empty() : error.find(why[i]) != std::string::npos);
        // The table row: host, result, and the same first error line.
        size_t at = log.find("\n" + host + "  " + (i < 4 ? "OK     " : "ERROR  "));
        ASSERT_NE(at, std::string::npos) << log;
        EXPECT_THAT(log.substr(at + 1, log.find('\n', at + 1) - at - 1), ::testing::HasSubstr(error));
        if (i < 4) {  // header and ten records
            EXPECT_EQ(ReadText(File("good" + std::to_string(i) + "/staged-firmware.rec")).size(), 11u * 16);
        }
    }
}

// Ctrl-C while the first two of three units write, on a terminal (progress lines, colours):
// both end ABORTED (or OK), the third never starts, exit 3.
TEST_F(MultiHost, CtrlCStopsTheRunningUnitsAndStartsNoMore)
{
    Args cli = {"write-firmware", Image(1200), "--jobs", "2"};
    auto sims = Sims({{"--fault-delay", "100"}, {"--fault-delay", "100"}, {}}, &cli);
    CliResult r = CliRun(cli, {"Device talk...", true});
    ASSERT_TRUE(r.interrupted);
    r.out = std::regex_replace(r.out, std::regex("\x1b\\[[0-9;]*[A-Za-z]"), "");
    EXPECT_EQ(r.exitCode, kAborted) << r.out << r.err;
    const size_t table = r.out.find("\nHost ");
    ASSERT_NE(table, std::string::npos) << r.out;
    for (int i = 0; i < 2; ++i)  // ABORTED, or OK when it ended before the signal
        EXPECT_TRUE(std::regex_search(r.out.substr(table), std::regex("\n" + sims[i]->HostPort() + "  (ABORT|OK)")));
    // Each running unit has its state line (no time stamp) under the log while it runs.
    EXPECT_TRUE(std::regex_search(r.out.substr(0, table), std::regex("\n" + sims[0]->HostPort() + "  [^0-9]")));
    // The third's only line is its ABORTED table row: no connection was ever opened.
    const std::string third = sims[2]->HostPort();
    EXPECT_EQ(r.out.find(third), r.out.find("\n" + third + "  ABORTED") + 1) << r.out;
}
}  // namespace
