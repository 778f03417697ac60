// Version read, reboot, gateway test and password change against the simulator, each also
// with the unit refusing or garbling its part.
#include "base/LogTypes.h"
#include "tests/support/RunnerSim.h"

namespace {
using CommandsTest = RunnerSimTest;

// A version read and its log; a password change takes effect for the next operation.
TEST_F(CommandsTest, VersionReadAndPasswordChange)
{
    StartSim({"--version", "1.2.0.15", "--reboot-delay", "0"});
    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::VersionRead));
    EXPECT_EQ("1.2.0.15", ui_->Version());
    EXPECT_EQ((std::vector<std::string>{"Read firmware version begin", "  Open TCP socket",
                                        "  Connecting to '" + sim_->HostPort() + "'", "  Device talk...", "  Close socket",
                                        "Read firmware version end: OK. Elapsed time: lower one second."}),
              ui_->Texts());
    EXPECT_EQ(LogStyleResultOK, ui_->Lines().back().styles[1]);
    EXPECT_EQ("1/1", ui_->ProgressText());
    EXPECT_EQ(std::vector<AppState>({AppState::Connecting, AppState::Running, AppState::Succeeded}), ui_->States());
    ASSERT_TRUE(runner_->ChangePasswordBegin(32767));
    EXPECT_EQ(AppState::Succeeded, Finish()) << ui_->Dump();
    EXPECT_EQ("Change password end: OK. Elapsed time: lower one second.", EndLine());
    EXPECT_EQ("1/1", ui_->ProgressText());
    EXPECT_EQ(AppState::Error, Run(OperationKind::Reboot));  // still with the old password
    // A change with the old password is refused too, and the new one holds.
    ASSERT_TRUE(runner_->ChangePasswordBegin(5));
    EXPECT_EQ(AppState::Error, Finish());
    EXPECT_EQ("0/0", ui_->ProgressText());
    ui_->Inputs(sim_->HostPort(), "32767");
    EXPECT_EQ(AppState::Succeeded, Run(OperationKind::Reboot)) << ui_->Dump();
}

// The gateway test checks the Tamrin answer; a refused version read shows no version.
TEST_F(CommandsTest, GatewayTestAndRefusals)
{
    const struct {
        std::vector<std::string> faults;
        bool talkLog;
        AppState state;
        const char *line, *progress;  // line: one the log must hold
    } cases[] = {
        {{}, true, AppState::Succeeded, "  Receive data from Tamrin", "1/1"},
        {{"--fault-tamrin", "prefix"}, false, AppState::Error, "Wrong Tamrin prefix (want '0x55'; read '0x54')", "1/2"},
        {{"--fault-tamrin", "check"}, false, AppState::Error, "Wrong Tamrin CRC (want '0x", "1/2"},
        {{"--fault-exception", "65:4"}, false, AppState::Error, "Device answer exception '0x4'", "1/2"},
        {{"--fault-exception", "67:4"}, true, AppState::Error, "  Send data to Tamrin", "0/0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        StartSim(c.faults);
        runner_->FlagsSet(RunFlags::TalkLog, c.talkLog);
        EXPECT_EQ(c.state, Run(OperationKind::TestGateway));
        EXPECT_GE(ui_->Find(c.line), 0) << ui_->Dump();
        EXPECT_EQ(c.state == AppState::Succeeded ? 0 : 1, ui_->Count("Wrong Tamrin") + ui_->Count("exception"));
        EXPECT_EQ(c.talkLog, ui_->Find("Device talk...") < 0);
        EXPECT_EQ(c.progress, ui_->ProgressText());
    }
    StartSim({"--fault-exception", "3:4"});
    EXPECT_EQ(AppState::Error, Run(OperationKind::VersionRead));
    EXPECT_EQ("/0/0", ui_->Version() + "/" + ui_->ProgressText());
}

TEST_F(CommandsTest, DevicePasswordIsParsedWithItsBaseAndSentAsSixteenBits)
{
    const struct {
        const char* typed;
        int32_t parsed;
        const char* unitPassword;  // null: the unit never sees it
        AppState state;
    } cases[] = {
        {"0x1A2B", 6699, "6699", AppState::Succeeded}, {"017", 15, "15", AppState::Succeeded},
        {"abc", 0, "0", AppState::Succeeded},          {"70000", 70000, "4464", AppState::Succeeded},
        {"2", 2, "1", AppState::Error},
        // Beyond 32 bits the number stops at the nearest limit, as a 32-bit strtol does.
        {"99999999999", INT32_MAX, nullptr, AppState::Idle}, {"-99999999999", INT32_MIN, nullptr, AppState::Idle},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(c.parsed, DevicePasswordParse(c.typed));
        if (!c.unitPassword)
            continue;
        password_ = c.typed;
        StartSim({"--password", c.unitPassword, "--reboot-delay", "0"});
        EXPECT_EQ(c.state, Run(OperationKind::Reboot)) << ui_->Dump();
        EXPECT_EQ((uint16_t)c.parsed, runner_->DevicePasswordWire());
        EXPECT_EQ(c.state == AppState::Error, ui_->Find("Device answer exception '0x3'") >= 0);
    }
    EXPECT_EQ("Send 'reboot' command end: ERROR. Elapsed time: lower one second.", EndLine());
}
}  // namespace
