// The six requests and discovery against the unit simulator, and functions 3, 20 and 21
// against an independent Modbus server.
#include <cstdlib>
#include <gtest/gtest.h>
#include <numeric>
#include <unistd.h>
#include "tests/modbus/ModbusClient.h"
#include "tests/support/LoopbackUdpChannel.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/SimProcess.h"

namespace {

using Lines = std::vector<std::string>;

TEST(SimInterop, SixRequestsAndDiscovery)
{
    SimProcess sim({"--version", "1.2.3.4", "--mac", "02:11:22:33:44:55", "--id", "ABC123", "--fault-transaction", "1"});
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    ModbusClient client;
    ASSERT_TRUE(client.Connect(sim.HostPort()));
    const MODBUS_TalkInfo& info = client.info;
    client.info.attempts = kModbusSessionAttempts;
    uint8_t version[4], record[16], id[8], gateway[6], values[16] = {0, 7, 0x30, 0x31, 0x32, 0x33}, back[16];
    EXPECT_TRUE(ModbusReadRegisters(info, kFnReadHoldingRegisters, kRegVersion, 2, version).Ok());   // after a retry
    EXPECT_EQ(Bytes(version, version + 4), Hex("01 02 03 04"));
    EXPECT_TRUE(ModbusReadFileRecord(info, kFnReadFileRecord, 1, 0, 8, record).Ok());
    EXPECT_EQ(Bytes(record, record + 8), Hex("00 01 02 11 22 33 44 55"));
    EXPECT_TRUE(ModbusReadFileRecord(info, kFnReadFileRecord, 1, 1, 4, id).Ok());
    EXPECT_EQ(std::string((char*)id + 2, 6), "ABC123");
    EXPECT_TRUE(ModbusWriteRegistersKeyed(info, kFnWriteRegistersKeyed, kRegPassword, 1, 1, values).Ok());
    EXPECT_EQ(ModbusWriteRegistersKeyed(info, kFnWriteRegistersKeyed, kRegPassword, 1, 1, values).exception, 3);
    EXPECT_TRUE(ModbusWriteFileRecord(info, kFnWriteFileRecord, 10, 2, 8, values).Ok());   // password 7 in front
    EXPECT_TRUE(ModbusReadFileRecord(info, kFnReadFileRecord, 10, 2, 8, back).Ok());
    EXPECT_EQ(Bytes(back + 2, back + 16), Bytes(values + 2, values + 16));
    EXPECT_TRUE(ModbusGatewaySend(info, Hex("03 60 63").data(), 3).Ok());
    EXPECT_TRUE(ModbusGatewayRead(info, gateway, 6).Ok());
    EXPECT_EQ(gateway[0], 0x55);
    EXPECT_EQ(gateway[5], (uint8_t)std::accumulate(gateway, gateway + 5, 0));
    EXPECT_EQ(client.owner.Styled(), (Lines{"4|Wrong transaction identifier (want '0x7B'; read '0x7C')",
                                            "0|Reading the remainder from channel", "0|Retry",
                                            "4|Device answer exception '0x3' ('ILLEGAL DATA VALUE')"}));

    LoopbackUdpChannel udp(&client.owner, {LoopbackUdpChannel::Loopback("127.0.0.1")}, (uint16_t)sim.UdpPort(), 200);
    MODBUS_TalkInfo search = info;
    search.channel = &udp;
    search.quiet = true;
    search.attempts = 1;
    ASSERT_TRUE(udp.Open());
    EXPECT_TRUE(ModbusReadFileRecord(search, kFnReadFileRecord, 1, 0, 8, record).Ok());
    EXPECT_EQ(Bytes(record, record + 8), Hex("00 01 02 11 22 33 44 55"));
    EXPECT_EQ(udp.SenderAddress(), inet_addr("127.0.0.1"));
    udp.ClearDatagramHeld();   // no second unit: the next answer is the end of the search
    EXPECT_EQ(ModbusReadFileRecord(search, kFnReadFileRecord, 1, 0, 8, record).result, kModbusEof);
    EXPECT_TRUE(udp.Close());
    EXPECT_TRUE(ModbusWriteRegistersKeyed(info, kFnWriteRegistersKeyed, kRegReboot, 1, 7, Hex("00 01").data()).Ok());
}

TEST(PyModbusInterop, RegistersFileRecordsAndAnException)
{
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    const char* source = getenv("PELTA_SOURCE_DIR");
    SimProcess server;   // the server announces itself as the simulator does
    server.SetLauncher({"/usr/bin/python3", std::string(source ? source : ".") + "/tests/modbus/pymodbus_server.py"});
    std::string error;
    if (!server.Start(&error) && error.find("ModuleNotFoundError") != std::string::npos) GTEST_SKIP() << error;
    ASSERT_GT(server.TcpPort(), 0) << error;
    ModbusClient client;
    ASSERT_TRUE(client.Connect(server.HostPort()));
    uint8_t regs[4], record[16];
    EXPECT_TRUE(ModbusReadRegisters(client.info, kFnReadHoldingRegisters, 2, 2, regs).Ok());
    EXPECT_EQ(Bytes(regs, regs + 4), Hex("01 02 01 03"));
    EXPECT_TRUE(ModbusReadFileRecord(client.info, kFnReadFileRecord, 5, 3, 8, record).Ok());
    EXPECT_EQ(Bytes(record, record + 4), Hex("05 30 05 31"));
    EXPECT_EQ(Bytes(record + 14, record + 16), Hex("05 37"));
    Bytes values(240);
    std::iota(values.begin(), values.end(), 0);
    EXPECT_TRUE(ModbusWriteFileRecord(client.info, kFnWriteFileRecord, 3, 1, 8, values.data()).Ok());
    EXPECT_TRUE(ModbusWriteFileRecord(client.info, kFnWriteFileRecord, 4, 9999, 120, values.data()).Ok());
    EXPECT_EQ(client.owner.Styled(), Lines{});
    EXPECT_EQ(ModbusReadRegisters(client.info, kFnReadHoldingRegisters, 100, 2, regs).exception, 2);
}

} // namespace
