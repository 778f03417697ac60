// pelta-cli's password and settings commands end to end against the simulator: exit codes,
// what reaches the unit, and the files and lines they leave.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "tests/cli/CliProcess.h"
#include "tests/support/SimProcess.h"

namespace {
const int kOk = 0, kFailed = 1, kUsage = 2;

std::string Joined(const std::vector<std::string>& args)
{
    std::string text;
    for (const std::string& a : args)
        text += a + " ";
    return text;
}

class SettingsCliTest : public ::testing::Test {
protected:
    void Start(std::vector<std::string> args = {})
    {
        sim_.reset(new SimProcess(args));
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error << sim_->Output();
    }
    void TearDown() override
    {
        if (sim_)
            sim_->Stop();
    }
    // The command with the simulator's address appended.
    CliResult Run(std::vector<std::string> args)
    {
        args.push_back("--host");
        args.push_back(sim_->HostPort());
        return CliRun(args);
    }

    std::unique_ptr<SimProcess> sim_;
};

TEST(SettingsCliArguments, BadArgumentsExitWithTwo)
{
    const std::vector<std::vector<std::string>> cases = {
        {"change-password", "32768", "--password", "1", "--host", "127.0.0.1"},
        {"change-password", "-1", "--password", "1", "--host", "127.0.0.1"},
        {"change-password", "12a", "--password", "1", "--host", "127.0.0.1"},
        {"change-password", "", "--password", "1", "--host", "127.0.0.1"},
        {"change-password", "5", "--host", "127.0.0.1"},
        {"change-password", "--password", "1", "--host", "127.0.0.1"},
    };
    for (const auto& args : cases) {
        CliResult r = CliRun(args);
        EXPECT_EQ(kUsage, r.exitCode) << Joined(args) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("usage: pelta-cli")) << Joined(args);
        EXPECT_TRUE(r.out.empty()) << Joined(args);
    }
}

TEST_F(SettingsCliTest, ChangePasswordTakesEffectOnTheUnit)
{
    Start({"--password", "1"});
    // Both ends of the range; the old password stops working once the new one is set.
    struct Step {
        const char* newPassword;
        const char* password;
        int exitCode;
    };
    const Step steps[] = {
        {"32767", "1", kOk}, {"5", "1", kFailed}, {"0", "32767", kOk}, {"1", "0", kOk}, {"2", "1", kOk},
    };
    for (const Step& s : steps) {
        CliResult r = Run({"change-password", s.newPassword, "--password", s.password});
        std::string label = std::string(s.password) + " -> " + s.newPassword;
        EXPECT_EQ(s.exitCode, r.exitCode) << label << "\n" << r.out << r.err;
        const char* end = s.exitCode == kOk ? "Change password end: OK." : "Change password end: ERROR.";
        EXPECT_NE(std::string::npos, r.out.find(end)) << label << "\n" << r.out;
        if (s.exitCode != kOk) {
            EXPECT_NE(std::string::npos, r.out.find("Device answer exception '0x3'")) << label << "\n" << r.out;
        }
    }
}
}  // namespace
