#include <gtest/gtest.h>

#include "sim/SimOptions.h"
#include "tests/sim/SimTestClient.h"

namespace {

TEST(SimOptions, BadOptionsAreRefusedWithAReason) {
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {{"--bogus"}, "unknown option '--bogus'"},           {{"--port"}, "needs a value"},
        {{"--port", "65536"}, "bad value '65536' for --port"}, {{"--mac", "00:11:22:33:44"}, "bad value"},
        {{"--password", "32768"}, "bad value"},                {{"--id", "ABCDEFG"}, "bad value"},
        {{"--fault-exception", "3"}, "bad value"},             {{"--fault-close", "5:0"}, "bad value"},
        {{"--fault-result", "1:2:3"}, "bad value"},            {{"--fault-id-result", "65536"}, "bad value"},
        {{"--verbose=yes"}, "takes no value"},
    };
    for (Case& c : cases) {
        SimConfig config;
        std::string error;
        std::vector<char*> argv = {(char*)"pelta-sim"};
        for (auto& a : c.args) argv.push_back(&a[0]);
        EXPECT_EQ(ParseResult::kError, ParseOptions((int)argv.size(), argv.data(), &config, &error)) << c.args[0];
        EXPECT_NE(std::string::npos, error.find(c.reason)) << error;
    }
    SimProcess bad({"--fault-tamrin", "crc"});
    EXPECT_FALSE(bad.Start());
    EXPECT_EQ(2, bad.ExitCode()) << bad.Output();
}

}  // namespace
