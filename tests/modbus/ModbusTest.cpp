// The Modbus client against a scripted peer: the exact request bytes of each request, every
// result code and message, the drain and retry lines where they belong; the real time-outs;
// seeded random answers; and an independent Modbus server.
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <unistd.h>
#include "channels/TalkChannel_TCP.h"
#include "modbus/Modbus.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/SimProcess.h"

std::string ModbusAnswerFault(const uint8_t* data, size_t size, ModbusResult* result);

namespace {

using Lines = std::vector<std::string>;
using Call = std::function<ModbusStatus(const MODBUS_TalkInfo&, uint8_t* destination)>;

// A TCP channel to unit 1 with time-outs short enough for failure cases (the read window counts
// whole seconds, so 3 leaves a slow peer on a loaded machine at least 2 s).
struct Client {
    explicit Client(int socketTimeoutMs = 200) : channel(&owner, "", socketTimeoutMs)
    {
        info.channel = &channel;
        info.device = &device;
        device.unitId = 1;
        info.timeouts = {3, 10, 0, 10};
    }
    bool Connect(const std::string& hostPort)
    {
        bool ok = channel.Open() && channel.Connect(hostPort.c_str());
        owner.Clear();   // the log starts empty
        return ok;
    }
    RecordingOwner owner;
    TalkChannel_TCP channel;
    DevAddress device;
    MODBUS_TalkInfo info;
};

// Modbus TCP frame to or from unit 1: MBAP header (length = data + 2), unit, function, data.
Bytes Frame(uint8_t function, const Bytes& data)
{
    const size_t n = data.size() + 2;
    return Concat({{0, (uint8_t)kModbusTransactionId, 0, 0, (uint8_t)(n >> 8), (uint8_t)n, 1, function}, data});
}
// CRC-16/MODBUS, bit by bit (apart from the library's table version), low byte first.
Bytes WithCrc(Bytes frame)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t b : frame) {
        crc ^= b;
        for (int i = 0; i < 8; i++) crc = (crc & 1) ? (uint16_t)((crc >> 1) ^ 0xA001) : (uint16_t)(crc >> 1);
    }
    return Concat({frame, {(uint8_t)crc, (uint8_t)(crc >> 8)}});
}

const Bytes kRequest = Frame(3, Hex("00 02 00 02")), kAnswer = Frame(3, Hex("04 0A 0B 0C 0D"));
const Bytes kData = Hex("0A 0B 0C 0D"), kEight = Hex("00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08");
const std::string kRemainder = "0|Reading the remainder from channel", kRetry = "0|Retry";
const std::string kTid = "4|Wrong transaction identifier (want '0x7B'; read '0x7C')";
const std::string kNoData = "4|No data (timeout). Check device connection.";
PeerStep Expect() { return ExpectBytes(kRequest); }
ScriptedPeer::Script Ask(Bytes answer) { return {Expect(), SendBytes(std::move(answer))}; }
ScriptedPeer::Script Ask(uint8_t function, const Bytes& request, const Bytes& answer, uint8_t answered = 0)
{
    return {ExpectBytes(Frame(function, request)), SendBytes(Frame(answered ? answered : function, answer))};
}
Bytes Set(Bytes b, size_t at, uint8_t value)
{
    b[at] = value;
    return b;
}
Bytes WithHeader(const char* header) { return Concat({Hex(header), Hex("03 04 0A 0B 0C 0D")}); }

const Call kReadRegs = [](const MODBUS_TalkInfo& i, uint8_t* d) { return ModbusReadRegisters(i, 3, 2, 2, d); };
const Call kReadRecord = [](const MODBUS_TalkInfo& i, uint8_t* d) { return ModbusReadFileRecord(i, 20, 5, 0, 8, d); };
Call WriteRecord(uint16_t registers)
{
    return [registers](const MODBUS_TalkInfo& i, uint8_t*) {
        static const Bytes data = Concat({Hex("01 00 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F"), Bytes(242, 0x11)});
        return ModbusWriteFileRecord(i, 21, 3, registers == 8 ? 1 : 0, registers, registers == 8 ? data.data() : data.data() + 16);
    };
}
Call Keyed(uint16_t registers)
{
    return [registers](const MODBUS_TalkInfo& i, uint8_t*) {
        static const Bytes one = Concat({Hex("00 01"), Bytes(240)});
        return ModbusWriteRegistersKeyed(i, kFnWriteRegistersKeyed, kRegReboot, registers, 0x1234, one.data());
    };
}
enum { kQuiet = 1, kRtu = 2 };

struct Case {
    const char* name;
    ScriptedPeer::Script script;
    ModbusResult result;
    int exception;
    Lines log;
    Bytes destination = {};   // the start of the caller's buffer afterwards
    int attempts = 1;
    Call call = kReadRegs;
    int flags = 0;
    int stopAfterPolls = -1;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> Cases()
{
    const Bytes wrongTid = WithHeader("00 7C 00 00 00 07 01"), rtuRequest = WithCrc(Hex("01 03 00 02 00 02"));
    const Bytes rtuAnswer = WithCrc(Hex("01 03 04 0A 0B 0C 0D")), rtuSwapped = Set(Set(rtuAnswer, 7, rtuAnswer[8]), 8, rtuAnswer[7]);
    char crcLine[64];
    snprintf(crcLine, sizeof crcLine, "4|Wrong CRC (want '0x%X'; read '0x%X')", rtuAnswer[7] | rtuAnswer[8] << 8,
             rtuAnswer[8] | rtuAnswer[7] << 8);
    const Bytes write = Hex("17 06 00 03 00 01 00 08 01 00 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
    const Bytes largest = Concat({Hex("F7 06 00 03 00 00 00 78"), Bytes(240, 0x11)});
    const Bytes keyed = Hex("00 0E 00 01 02 12 34 00 01");
    const std::string eof = "4|Data incomplete (EOF)", big = "4|Send data too big";
    return {
        {"correct answer", Ask(kAnswer), kModbusOk, 0, {}, kData, 3},
        {"wrong transaction id, then right", {Expect(), SendBytes(wrongTid), Expect(), SendBytes(kAnswer)}, kModbusOk, 0,
         {kTid, kRemainder, kRetry}, kData, 3},
        {"wrong transaction id every time",
         {Expect(), SendBytes(wrongTid), Expect(), SendBytes(wrongTid), Expect(), SendBytes(wrongTid)},
         kModbusWrongAnswer, -1, {kTid, kRemainder, kRetry, kTid, kRemainder, kRetry, kTid, kRemainder}, {}, 3},
        {"wrong protocol id", Ask(WithHeader("00 7B 00 01 00 07 01")), kModbusWrongAnswer, -1,
         {"4|Wrong protocol identifier (want '0x0'; read '0x1')", kRemainder}},
        {"wrong unit id", Ask(WithHeader("00 7B 00 00 00 07 05")), kModbusWrongAnswer, -1,
         {"4|Wrong unit identifier (want '0x1'; read '0x5')", kRemainder}},
        {"only the first wrong field", Ask(WithHeader("00 7C 00 01 00 07 05")), kModbusWrongAnswer, -1, {kTid, kRemainder}},
        {"garbage", Ask(Bytes(12, 0xFF)), kModbusWrongAnswer, -1,
         {"4|Wrong transaction identifier (want '0x7B'; read '0xFFFF')", kRemainder}},
        {"wrong function code", Ask(Frame(4, Hex("04 0A 0B 0C 0D"))), kModbusWrongAnswer, -1,
         {"4|Wrong function code '0x4'", kRemainder}},
        {"exception 2, not repeated", Ask(Frame(0x83, Hex("02"))), kModbusException, 2,
         {"4|Device answer exception '0x2' ('ILLEGAL DATA ADDRESS')"}, {}, 3},
        {"exception 12 has no name", Ask(Frame(0x83, Hex("0C"))), kModbusException, 12,
         {"4|Device answer exception '0xC' ('')"}},
        {"partial answer, then silence", Ask(Frame(3, Hex("04 0A"))), kModbusTimeout, 0, {"4|Data incomplete (timeout)"}},
        {"silence", {Expect()}, kModbusTimeout, -1, {kNoData}},
        {"silence, quiet", {Expect()}, kModbusTimeout, -1, {}, {}, 1, kReadRegs, kQuiet},
        {"silence, two attempts", {Expect(), Expect()}, kModbusTimeout, -1, {kNoData, kRetry, kNoData}, {}, 2},
        {"late answer inside the window", {Expect(), DelayMs(450), SendBytes(kAnswer)}, kModbusOk, 0, {}, kData},
        {"answer in trickles",
         {Expect(), SendBytes(Hex("00 7B 00")), DelayMs(30), SendBytes(Hex("00 00 07 01 03")), DelayMs(250),
          SendBytes(Hex("04 0A 0B")), DelayMs(30), SendBytes(Hex("0C 0D"))}, kModbusOk, 0, {}, kData},
        {"end after 3 of 7 header bytes", {Expect(), SendBytes(Hex("00 7B 00")), CloseConnection()}, kModbusEof, -1, {eof}},
        {"end before any byte", {Expect(), CloseConnection()}, kModbusEof, -1, {"4|No data (EOF). Check device connection."}},
        {"end before any byte, quiet", {Expect(), CloseConnection()}, kModbusEof, -1, {}, {}, 1, kReadRegs, kQuiet},
        {"end inside the exception", {Expect(), SendBytes(Hex("00 7B 00 00 00 03 01 83")), CloseConnection()}, kModbusEof,
         -1, {eof}},
        {"reset while receiving", {Expect(), ResetConnection()}, kModbusReceiveFailed, -1,
         {"4|Receiving error: 'Connection reset by peer'"}},
        {"reset, then the retry cannot send", {Expect(), ResetConnection()}, kModbusSendFailed, -1,
         {"4|Receiving error: 'Connection reset by peer'", kRetry, "4|Sending error: 'Cannot send after socket shutdown'"},
         {}, 2},
        {"stopped before sending", {}, kModbusStopped, -1, {kRemainder}, {}, 3, kReadRegs, 0, 0},
        {"stopped while waiting", {Expect()}, kModbusStopped, -1, {kRemainder}, {}, 3, kReadRegs, 0, 2},
        {"stopped after an empty receive", {Expect(), DelayMs(900), SendBytes(kAnswer)}, kModbusStopped, -1, {kRemainder},
         {}, 3, kReadRegs, 0, 3},
        {"RTU answer", {ExpectBytes(rtuRequest), SendBytes(rtuAnswer)}, kModbusOk, 0, {}, kData, 1, kReadRegs, kRtu},
        {"RTU wrong CRC", {ExpectBytes(rtuRequest), SendBytes(rtuSwapped)}, kModbusWrongAnswer, 0, {crcLine, kRemainder},
         {}, 1, kReadRegs, kRtu},
        {"RTU wrong device address", {ExpectBytes(rtuRequest), SendBytes(WithCrc(Hex("02 03 04 0A 0B 0C 0D")))},
         kModbusWrongAnswer, -1, {"4|Wrong device address (want '0x1'; read '0x2')", kRemainder}, {}, 1, kReadRegs, kRtu},
        {"RTU exception", {ExpectBytes(rtuRequest), SendBytes(WithCrc(Hex("01 83 04")))}, kModbusException, 4,
         {"4|Device answer exception '0x4' ('SLAVE DEVICE FAILURE')"}, {}, 3, kReadRegs, kRtu},
        {"read registers, byte count 6", Ask(Frame(3, Hex("06 0A 0B 0C 0D 0E 0F"))), kModbusWrongAnswer, 0,
         {"4|Wrong device data length (want '0x4'; read '0x6')"}, kData},
        {"read file record", Ask(20, Hex("07 06 00 05 00 00 00 08"), Concat({Hex("12 11 06"), kEight})), kModbusOk, 0,
         {}, kEight, 1, kReadRecord},
        {"read file record, reference type 7", Ask(20, Hex("07 06 00 05 00 00 00 08"), Concat({Hex("12 11 07"), kEight})),
         kModbusWrongAnswer, 0, {"4|Wrong reference type (want '0x6'; read '0x7')"}, kEight, 1, kReadRecord},
        {"read file record, data length", Ask(20, Hex("07 06 00 05 00 00 00 08"), Concat({Hex("13 11 07"), kEight})),
         kModbusWrongAnswer, 0, {"4|Wrong device data length (want '0x12'; read '0x13')"}, {}, 1, kReadRecord},
        {"read file record, record length", Ask(20, Hex("07 06 00 05 00 00 00 08"), Concat({Hex("12 10 06"), kEight})),
         kModbusWrongAnswer, 0, {"4|Wrong device record length (want '0x11'; read '0x10')"}, {}, 1, kReadRecord},
        {"write file record", Ask(21, write, write), kModbusOk, 0, {}, {}, 1, WriteRecord(8)},
        {"write file record, echo differs in data", Ask(21, write, Set(write, 23, 0xFF)), kModbusOk, 0,
         {"4|Answer not equal request"}, {}, 1, WriteRecord(8)},
        {"write file record, echo differs in header", Ask(21, write, Set(write, 5, 2)), kModbusOk, 0,
         {"4|Answer not equal request"}, {}, 1, WriteRecord(8)},
        {"largest frame", Ask(21, largest, largest), kModbusOk, 0, {}, {}, 1, WriteRecord(120)},
        {"one register more", {}, kModbusStopped, -1, {big, kRemainder}, {}, 1, WriteRecord(121)},
        {"one register more, two attempts", {}, kModbusStopped, -1, {big, kRemainder, kRetry, big, kRemainder}, {}, 2,
         Keyed(121)},
        {"keyed write", Ask(100, keyed, Hex("00 0E 00 01")), kModbusOk, 0, {}, {}, 1, Keyed(1)},
        {"keyed write, wrong start", Ask(100, keyed, Hex("00 0F 00 02")), kModbusWrongAnswer, 0,
         {"4|Wrong registers start address (want '0xE'; read '0xF')"}, {}, 1, Keyed(1)},
        {"keyed write, wrong count", Ask(100, keyed, Hex("00 0E 00 02")), kModbusWrongAnswer, 0,
         {"4|Wrong registers count (want '0x1'; read '0x2')"}, {}, 1, Keyed(1)},
        {"gateway send", Ask(67, Hex("03 60 63"), Hex("AB CD")), kModbusOk, 0, {}, {}, 1,
         [](const MODBUS_TalkInfo& i, uint8_t*) { return ModbusGatewaySend(i, Hex("03 60 63").data(), 3); }},
        {"gateway read", Ask(65, {}, Hex("55 01 02 03 04 5F")), kModbusOk, 0, {}, Hex("55 01 02 03 04 5F"), 1,
         [](const MODBUS_TalkInfo& i, uint8_t* d) { return ModbusGatewayRead(i, d, 6); }},
    };
}

class ModbusTable : public ::testing::TestWithParam<Case> {};

TEST_P(ModbusTable, ResultLogAndBytes)
{
    const Case& c = GetParam();
    ScriptedPeer peer({c.script});
    Client client;
    ASSERT_TRUE(peer.Start() && client.Connect(peer.HostPort()));
    client.info.attempts = c.attempts;
    client.info.quiet = c.flags & kQuiet;
    client.info.frameMode = c.flags & kRtu ? kModbusFrameRtu : kModbusFrameTcp;
    client.owner.stopAfterPolls = c.stopAfterPolls;
    if (c.result == kModbusTimeout) client.info.timeouts.readWindowSec = 1;
    uint8_t destination[64];
    memset(destination, 0xEE, sizeof destination);
    ModbusStatus st = c.call(client.info, destination);
    EXPECT_EQ(st.result, c.result);
    EXPECT_EQ(st.exception, c.exception);
    EXPECT_EQ(client.owner.Styled(), c.log);
    EXPECT_EQ(Bytes(destination, destination + c.destination.size()), c.destination);
    client.channel.Close();
    peer.Finish();
    EXPECT_EQ(peer.Problems(), Lines{});
}

INSTANTIATE_TEST_SUITE_P(Modbus, ModbusTable, ::testing::ValuesIn(Cases()), [](const auto& i) {
    std::string n = i.param.name;
    for (char& ch : n) ch = isalnum((unsigned char)ch) ? ch : '_';
    return n;
});

// The real constants (5 s socket time-out, 6 s read window): a silent unit is given up after
// the second empty receive (about 10 s), an answer after 5.5 s still counts.
TEST(ModbusRealTimeouts, SilentUnitAndLateAnswer)
{
    auto run = [](ScriptedPeer::Script script, ModbusResult want, Lines log, double from, double to) {
        ScriptedPeer peer({std::move(script)});
        Client client(kChannelSocketTimeoutMs);
        client.info.timeouts = ModbusTimeouts();
        uint8_t data[4];
        if (!peer.Start() || !client.Connect(peer.HostPort())) return std::string("no connection");
        // The window counts whole seconds of the wall clock: starting just after a second
        // begins makes "fewer than 6 whole seconds" mean at least 5.9 s.
        for (time_t now = time(nullptr); time(nullptr) == now;) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        auto t0 = std::chrono::steady_clock::now();
        ModbusResult result = ModbusReadRegisters(client.info, 3, 2, 2, data).result;
        double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const bool logged = client.owner.Styled() == log;
        client.channel.Close();
        if (result != want || !logged || s < from || s >= to || !peer.Finish() || !peer.Problems().empty())
            return "result " + std::to_string(result) + " after " + std::to_string(s) + " s, log as expected " +
                   std::to_string(logged);
        return std::string();
    };
    auto silent = std::async(std::launch::async, run, ScriptedPeer::Script{Expect()}, kModbusTimeout, Lines{kNoData}, 9.9, 11.5);
    auto late = std::async(std::launch::async, run, ScriptedPeer::Script{Expect(), DelayMs(5500), SendBytes(kAnswer)},
                           kModbusOk, Lines{}, 5.4, 6.5);
    EXPECT_EQ(silent.get(), "");
    EXPECT_EQ(late.get(), "");
}

// Seeded random answers to each request: the right one, one byte changed, cut short, longer, an
// exception or noise, in random pieces, with and without a stop (the rules: FuzzModbusAnswer.cpp).
TEST(ModbusRandomAnswers, KeepEveryRule)
{
    const Bytes valid[] = {Frame(3, Hex("04 01 02 03 04")), Frame(20, Concat({Hex("12 11 06"), Bytes(16, 0x5A)})),
                           Frame(21, Hex("17 06 00 03 00 01 00 08 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F")),
                           Frame(100, Hex("00 0E 00 01")), Frame(67, Hex("00 00")),
                           Frame(20, Concat({Hex("82 81 06"), Bytes(128, 0x77)})), Frame(65, Hex("55 01 02 03 04 5F"))};
    int outcomes[kModbusStopped + 1] = {};
    for (int seed = 0; seed < 20000; seed++) {
        std::mt19937 rng(seed);
        const uint8_t control = (uint8_t)(rng() % 7 | (rng() & 0x88));
        Bytes frame = valid[control & 7];
        switch (rng() % 6) {
        case 0: break;
        case 1: frame[rng() % frame.size()] ^= (uint8_t)(1 + rng() % 255); break;
        case 2: frame.resize(rng() % frame.size()); break;
        case 3: frame.resize(frame.size() + rng() % 300, (uint8_t)rng()); break;
        case 4: frame[7] |= 0x80; frame.resize(9); break;
        default: frame.resize(rng() % 300); for (uint8_t& b : frame) b = (uint8_t)rng();
        }
        const Bytes input = Concat({{control, (uint8_t)rng(), (uint8_t)(rng() % 250)}, frame});
        ModbusResult result = kModbusOk;
        ASSERT_EQ(ModbusAnswerFault(input.data(), input.size(), &result), "") << "seed " << seed;
        outcomes[result]++;
    }
    for (ModbusResult r : {kModbusOk, kModbusWrongAnswer, kModbusException, kModbusTimeout, kModbusEof, kModbusStopped})
        EXPECT_GT(outcomes[r], 0) << "result " << r;
}

TEST(PyModbusInterop, RegistersFileRecordsAndAnException)
{
    if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
    SimProcess server;   // the server announces itself as the simulator does
    server.SetLauncher({"/usr/bin/python3", PELTA_MODBUS_TESTS "/pymodbus_server.py"});
    std::string error;
    if (!server.Start(&error) && error.find("ModuleNotFoundError") != std::string::npos) GTEST_SKIP() << error;
    Client client;
    ASSERT_TRUE(client.Connect(server.HostPort())) << error;
    uint8_t regs[4], record[16];
    Bytes values(240);
    std::iota(values.begin(), values.end(), 0);
    EXPECT_TRUE(ModbusReadRegisters(client.info, kFnReadHoldingRegisters, 2, 2, regs).Ok());
    EXPECT_TRUE(ModbusReadFileRecord(client.info, kFnReadFileRecord, 5, 3, 8, record).Ok());
    EXPECT_TRUE(ModbusWriteFileRecord(client.info, kFnWriteFileRecord, 3, 1, 8, values.data()).Ok());
    EXPECT_TRUE(ModbusWriteFileRecord(client.info, kFnWriteFileRecord, 4, 9999, 120, values.data()).Ok());
    EXPECT_EQ(client.owner.Styled(), Lines{});
    EXPECT_EQ(ModbusReadRegisters(client.info, kFnReadHoldingRegisters, 100, 2, regs).exception, 2);
    EXPECT_EQ(Concat({Bytes(regs, regs + 4), Bytes(record, record + 16)}),
              Hex("01 02 01 03 05 30 05 31 05 32 05 33 05 34 05 35 05 36 05 37"));
}

} // namespace
