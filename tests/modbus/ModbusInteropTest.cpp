// The six requests against the unit simulator (and its fault switches), discovery over UDP
// against its responder, and functions 3, 20 and 21 against an independent Modbus server.
#include <cstdlib>
#include <numeric>
#include "tests/channels/LoopbackUdpChannel.h"
#include "tests/modbus/ChildServer.h"
#include "tests/modbus/ModbusTestSession.h"
#include "tests/support/SimProcess.h"

namespace {

using Lines = std::vector<std::string>;

const uint16_t kSimPassword = 1;

// A descriptor bound to a TCP channel connected to host:port.
struct Client {
    explicit Client(const std::string& hostPort) : channel(&owner, "", kTestSocketTimeoutMs)
    {
        info.channel = &channel;
        info.device = &device;
        info.attempts = kModbusSessionAttempts;
        info.timeouts = FastTimeouts();
        connected = channel.Open() && channel.Connect(hostPort.c_str());
        owner.Clear();
    }
    ~Client() { channel.Close(); }
    RecordingOwner owner;
    TalkChannel_TCP channel;
    DevAddress device;
    MODBUS_TalkInfo info;
    bool connected = false;
};

class SimInterop : public ::testing::Test {
protected:
    void StartSim(std::vector<std::string> args)
    {
        sim_.reset(new SimProcess(std::move(args)));
        std::string error;
        ASSERT_TRUE(sim_->Start(&error)) << error << "\n" << sim_->Output();
        client_.reset(new Client(sim_->HostPort()));
        ASSERT_TRUE(client_->connected) << client_->owner.Styled().back();
    }
    void TearDown() override
    {
        client_.reset();
        if (sim_) sim_->Stop();
    }
    const MODBUS_TalkInfo& Info() { return client_->info; }
    Lines Log() { return client_->owner.Styled(); }

    std::unique_ptr<SimProcess> sim_;
    std::unique_ptr<Client> client_;
};

TEST_F(SimInterop, VersionIdentityAndIdentifier)
{
    StartSim({"--version", "1.2.3.4", "--mac", "02:11:22:33:44:55", "--id", "ABC123"});
    uint8_t version[4];
    EXPECT_TRUE(ModbusReadRegisters(Info(), kFnReadHoldingRegisters, kRegVersion, 2, version).Ok());
    EXPECT_EQ(Bytes(version, version + 4), Hex("01 02 03 04"));

    uint8_t record[16];
    EXPECT_TRUE(ModbusReadFileRecord(Info(), kFnReadFileRecord, 1, 0, 8, record).Ok());
    EXPECT_EQ(Bytes(record, record + 8), Hex("00 01 02 11 22 33 44 55"));
    EXPECT_EQ(Bytes(record + 12, record + 16), Hex("7F 00 00 01"));

    uint8_t id[8];
    EXPECT_TRUE(ModbusReadFileRecord(Info(), kFnReadFileRecord, 1, 1, 4, id).Ok());
    EXPECT_EQ(std::string((char*)id + 2, 6), "ABC123");
    EXPECT_EQ(Log(), Lines{});
}

TEST_F(SimInterop, KeyedWritesCheckThePassword)
{
    StartSim({});
    const uint8_t newPassword[2] = {0x00, 0x07};
    EXPECT_TRUE(ModbusWriteRegistersKeyed(Info(), kFnWriteRegistersKeyed, kRegPassword, 1, kSimPassword,
                                          newPassword).Ok());
    ModbusStatus old = ModbusWriteRegistersKeyed(Info(), kFnWriteRegistersKeyed, kRegPassword, 1, kSimPassword,
                                                 newPassword);
    EXPECT_EQ(old.result, kModbusException);
    EXPECT_EQ(old.exception, 3);
    const uint8_t reboot[2] = {0x00, 0x01};
    EXPECT_TRUE(ModbusWriteRegistersKeyed(Info(), kFnWriteRegistersKeyed, kRegReboot, 1, 7, reboot).Ok());
    EXPECT_EQ(Log(), Lines{"4|Device answer exception '0x3' ('ILLEGAL DATA VALUE')"});
}

TEST_F(SimInterop, SettingsRecordWriteEchoAndReadBack)
{
    StartSim({});
    uint8_t values[16];
    for (int i = 0; i < 16; i++) values[i] = (uint8_t)(0x30 + i);
    values[0] = 0;
    values[1] = (uint8_t)kSimPassword;
    EXPECT_TRUE(ModbusWriteFileRecord(Info(), kFnWriteFileRecord, 10, 2, 8, values).Ok());
    uint8_t back[16];
    EXPECT_TRUE(ModbusReadFileRecord(Info(), kFnReadFileRecord, 10, 2, 8, back).Ok());
    EXPECT_EQ(Bytes(back + 2, back + 16), Bytes(values + 2, values + 16));
    EXPECT_EQ(Log(), Lines{});
}

TEST_F(SimInterop, TamrinGateway)
{
    StartSim({});
    const uint8_t ask[3] = {0x03, 0x60, 0x63};
    EXPECT_TRUE(ModbusGatewaySend(Info(), ask, 3).Ok());
    uint8_t answer[6];
    EXPECT_TRUE(ModbusGatewayRead(Info(), answer, 6).Ok());
    EXPECT_EQ(answer[0], 0x55);
    EXPECT_EQ(answer[5], (uint8_t)std::accumulate(answer, answer + 5, 0));
}

struct FaultCase {
    const char* name;
    std::vector<std::string> args;
    ModbusResult result;
    int exception;
    Lines log;
    int attempts = kModbusSessionAttempts;
};

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

class SimFaults : public SimInterop, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(SimFaults, ReadFileRecordMeetsTheFault)
{
    const FaultCase& c = GetParam();
    StartSim(c.args);
    client_->info.attempts = c.attempts;
    if (c.result == kModbusTimeout) client_->info.timeouts.readWindowSec = kSilenceWindowSec;
    uint8_t record[16];
    ModbusStatus st = ModbusReadFileRecord(Info(), kFnReadFileRecord, 1, 0, 8, record);
    EXPECT_EQ(st.result, c.result);
    EXPECT_EQ(st.exception, c.exception);
    EXPECT_EQ(Log(), c.log);
}

const char* kRemainder = "0|Reading the remainder from channel";
INSTANTIATE_TEST_SUITE_P(
    Sim, SimFaults,
    ::testing::Values(
        FaultCase{"transaction_id_once", {"--fault-transaction", "1"}, kModbusOk, 0,
                  {"4|Wrong transaction identifier (want '0x7B'; read '0x7C')", kRemainder, "0|Retry"}},
        FaultCase{"protocol_id_always", {"--fault-protocol", "all"}, kModbusWrongAnswer, -1,
                  {"4|Wrong protocol identifier (want '0x0'; read '0x1')", kRemainder, "0|Retry",
                   "4|Wrong protocol identifier (want '0x0'; read '0x1')", kRemainder, "0|Retry",
                   "4|Wrong protocol identifier (want '0x0'; read '0x1')", kRemainder}},
        FaultCase{"function_code", {"--fault-function", "1"}, kModbusOk, 0,
                  {"4|Wrong function code '0x15'", kRemainder, "0|Retry"}},
        FaultCase{"exception_2", {"--fault-exception", "20:2"}, kModbusException, 2,
                  {"4|Device answer exception '0x2' ('ILLEGAL DATA ADDRESS')"}},
        FaultCase{"close_after_3_bytes", {"--fault-close", "3"}, kModbusEof, -1, {"4|Data incomplete (EOF)"}, 1},
        FaultCase{"silence", {"--fault-silence", "all"}, kModbusTimeout, -1,
                  {"4|No data (timeout). Check device connection."}, 1}),
    [](const ::testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

TEST_F(SimInterop, WrongEchoStillSucceeds)
{
    StartSim({"--fault-echo", "1", "--fault-after", "1"});
    uint8_t values[16] = {0, (uint8_t)kSimPassword};
    // The first answer is good, the second echo has its last byte inverted.
    EXPECT_TRUE(ModbusWriteFileRecord(Info(), kFnWriteFileRecord, 10, 0, 8, values).Ok());
    EXPECT_EQ(Log(), Lines{});
    EXPECT_TRUE(ModbusWriteFileRecord(Info(), kFnWriteFileRecord, 10, 0, 8, values).Ok());
    EXPECT_EQ(Log(), Lines{"4|Answer not equal request"});
}

TEST_F(SimInterop, DiscoveryOverUdp)
{
    StartSim({"--mac", "02:AA:BB:CC:DD:EE"});
    RecordingOwner owner;
    LoopbackUdpChannel udp(&owner, {LoopbackUdpChannel::Loopback("127.0.0.1")}, (uint16_t)sim_->UdpPort(),
                           kTestSocketTimeoutMs);
    ASSERT_TRUE(udp.Open());
    DevAddress device;
    MODBUS_TalkInfo info;
    info.channel = &udp;
    info.device = &device;
    info.attempts = 1;
    info.quiet = true;
    info.timeouts = FastTimeouts();
    uint8_t record[16];
    ModbusStatus st = ModbusReadFileRecord(info, kFnReadFileRecord, 1, 0, 8, record);
    EXPECT_TRUE(st.Ok());
    EXPECT_EQ(Bytes(record, record + 8), Hex("00 01 02 AA BB CC DD EE"));
    EXPECT_EQ(udp.SenderAddress(), inet_addr("127.0.0.1"));
    // The next cycle finds no second unit: a quiet time-out.
    udp.ClearDatagramHeld();
    st = ModbusReadFileRecord(info, kFnReadFileRecord, 1, 0, 8, record);
    EXPECT_EQ(st.result, kModbusEof);
    EXPECT_TRUE(udp.Close());
}

class PyModbusInterop : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* source = getenv("PELTA_SOURCE_DIR");
        std::string script = std::string(source ? source : ".") + "/tests/modbus/pymodbus_server.py";
        if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
        server_.reset(new ChildServer({"/usr/bin/python3", script}));
        std::string output;
        if (!server_->Start(20000, &output)) {
            if (output.find("ModuleNotFoundError") != std::string::npos) GTEST_SKIP() << output;
            FAIL() << output;
        }
        client_.reset(new Client(server_->HostPort()));
        ASSERT_TRUE(client_->connected);
    }
    void TearDown() override
    {
        client_.reset();
        server_.reset();
    }
    std::unique_ptr<ChildServer> server_;
    std::unique_ptr<Client> client_;
};

TEST_F(PyModbusInterop, ReadRegistersAndFileRecords)
{
    uint8_t regs[4];
    EXPECT_TRUE(ModbusReadRegisters(client_->info, kFnReadHoldingRegisters, 2, 2, regs).Ok());
    EXPECT_EQ(Bytes(regs, regs + 4), Hex("01 02 01 03"));

    uint8_t record[16];
    EXPECT_TRUE(ModbusReadFileRecord(client_->info, kFnReadFileRecord, 5, 3, 8, record).Ok());
    EXPECT_EQ(Bytes(record, record + 4), Hex("05 30 05 31"));
    EXPECT_EQ(Bytes(record + 14, record + 16), Hex("05 37"));

    Bytes values(240);
    for (size_t i = 0; i < values.size(); i++) values[i] = (uint8_t)(i * 3);
    EXPECT_TRUE(ModbusWriteFileRecord(client_->info, kFnWriteFileRecord, 3, 1, 8, values.data()).Ok());
    EXPECT_TRUE(ModbusWriteFileRecord(client_->info, kFnWriteFileRecord, 4, 9999, 120, values.data()).Ok());
    EXPECT_EQ(client_->owner.Styled(), Lines{});

    ModbusStatus st = ModbusReadRegisters(client_->info, kFnReadHoldingRegisters, 100, 2, regs);
    EXPECT_EQ(st.result, kModbusException);
    EXPECT_EQ(st.exception, 2);
}

} // namespace
