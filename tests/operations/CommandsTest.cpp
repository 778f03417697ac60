// Version read, reboot, gateway test and password change against the simulator.
#include <gtest/gtest.h>

#include "base/LogTypes.h"
#include "tests/operations/SimFixture.h"

namespace {
class CommandsTest : public RunnerSimTest {};

TEST_F(CommandsTest, VersionReadShowsTheFourBytes)
{
    StartSim({"--version", "1.2.0.15"});
    RunCommand(OperationKind::VersionRead);
    EXPECT_EQ(AppState::Succeeded, State());
    EXPECT_EQ("1.2.0.15", ui_->Version());
    std::vector<std::string> texts = ui_->Texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ("Read firmware version begin", texts.front());
    EXPECT_EQ("  Device talk...", texts[ui_->Find("Device talk...")]);
    EXPECT_EQ("Read firmware version end: OK. Elapsed time: lower one second.", texts.back());
    EXPECT_EQ(LogStyleResultOK, ui_->Lines().back().styles[1]);
    int64_t done, total;
    int calls;
    ui_->Progress(&done, &total, &calls);
    EXPECT_EQ(1, done);
    EXPECT_EQ(1, total);
    // Connecting while the session opens, Running once it is open, then the result.
    std::vector<AppState> expected = {AppState::Connecting, AppState::Running, AppState::Succeeded};
    EXPECT_EQ(expected, ui_->States());
}

TEST_F(CommandsTest, GatewayTestChecksTheTamrinAnswer)
{
    struct Case {
        const char* fault;
        AppState state;
        const char* line;     // expected error line start, or null
        const char* absent;   // a line that must not be there
    };
    const Case cases[] = {
        {nullptr, AppState::Succeeded, nullptr, "Wrong Tamrin"},
        {"prefix", AppState::Error, "Wrong Tamrin prefix (want '0x55'; read '0x", "Wrong Tamrin CRC"},
        {"check", AppState::Error, "Wrong Tamrin CRC (want '0x", "Wrong Tamrin prefix"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault ? c.fault : "none");
        std::vector<std::string> args;
        if (c.fault)
            args = {"--fault-tamrin", c.fault};
        StartSim(args);
        RunCommand(OperationKind::TestGateway);
        EXPECT_EQ(c.state, State()) << ui_->Dump();
        if (c.line) {
            EXPECT_EQ(LogStyleError, ui_->StyleOf(c.line)) << ui_->Dump();
        }
        EXPECT_EQ(-1, ui_->Find(c.absent));
        int64_t done, total;
        int calls;
        ui_->Progress(&done, &total, &calls);
        // Half way after the send, full only after a good answer.
        EXPECT_EQ(c.state == AppState::Succeeded ? 1.0 : 0.5, (double)done / (double)total);
        TearDown();
    }
}

TEST_F(CommandsTest, GatewayTestWithTalkLogNamesBothDirections)
{
    StartSim();
    runner_->FlagsSet(RunFlags::TalkLog, true);
    RunCommand(OperationKind::TestGateway);
    EXPECT_EQ(AppState::Succeeded, State());
    int send = ui_->Find("  Send data to Tamrin");
    int receive = ui_->Find("  Receive data from Tamrin");
    EXPECT_GE(send, 0);
    EXPECT_GT(receive, send);
    EXPECT_EQ(-1, ui_->Find("Device talk..."));
    EXPECT_EQ("Test gateway end: OK. Elapsed time: lower one second.", EndLine());
}

struct PasswordCase {
    const char* typed;
    int32_t parsed;
    const char* unitPassword;  // what the unit must hold for the typed text to be accepted;
                               // null: beyond what the unit can hold, only what reaches it
    uint16_t wire;
};

TEST_F(CommandsTest, DevicePasswordIsParsedWithItsBaseAndSentAsSixteenBits)
{
    const PasswordCase cases[] = {
        {"0x1A2B", 6699, "6699", 6699},
        {"017", 15, "15", 15},
        {"abc", 0, "0", 0},
        {"70000", 70000, "4464", 4464},
        // Beyond 32 bits the number stops at the nearest limit, as a 32-bit strtol does.
        {"2147483648", INT32_MAX, nullptr, 0xFFFF},
        {"99999999999", INT32_MAX, nullptr, 0xFFFF},
        {"0x100000000", INT32_MAX, nullptr, 0xFFFF},
        {"-99999999999", INT32_MIN, "0", 0},
    };
    for (const PasswordCase& c : cases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(c.parsed, DevicePasswordParse(c.typed));
        if (!c.unitPassword) {
            EXPECT_EQ(c.wire, (uint16_t)(DevicePasswordParse(c.typed) & 0xFFFF));
            continue;
        }
        password_ = c.typed;
        StartSim({"--password", c.unitPassword, "--reboot-delay", "0"});
        EXPECT_EQ(-1, runner_->DevicePassword());
        RunCommand(OperationKind::Reboot);
        EXPECT_EQ(AppState::Succeeded, State()) << ui_->Dump();
        EXPECT_EQ(c.parsed, runner_->DevicePassword());
        EXPECT_EQ(c.wire, runner_->DevicePasswordWire());
        TearDown();
    }
}

TEST_F(CommandsTest, WrongPasswordIsRefusedByTheUnit)
{
    password_ = "2";
    StartSim();
    RunCommand(OperationKind::Reboot);
    EXPECT_EQ(AppState::Error, State());
    EXPECT_GE(ui_->Find("Device answer exception"), 0) << ui_->Dump();
    EXPECT_EQ("Send 'reboot' command end: ERROR. Elapsed time: lower one second.", EndLine());
}

TEST_F(CommandsTest, PasswordChangeTakesEffectForTheNextOperation)
{
    StartSim({"--reboot-delay", "0"});
    ASSERT_TRUE(runner_->ChangePasswordBegin(32767));
    ASSERT_TRUE(WaitIdle(*runner_, kOperationTimeoutMs));
    EXPECT_EQ(AppState::Succeeded, State()) << ui_->Dump();
    EXPECT_EQ("Change password end: OK. Elapsed time: lower one second.", EndLine());

    RunCommand(OperationKind::Reboot);  // still with the old password
    EXPECT_EQ(AppState::Error, State());
    ui_->Inputs(sim_->HostPort(), "32767");
    RunCommand(OperationKind::Reboot);
    EXPECT_EQ(AppState::Succeeded, State()) << ui_->Dump();
}
}  // namespace
