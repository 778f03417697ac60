// The transaction against a scripted peer: every result code, every message, and the drain
// and retry lines exactly where they belong.
#include <chrono>
#include <future>
#include <thread>
#include "tests/modbus/ModbusTestSession.h"

namespace {

using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

const uint8_t kFn = kFnReadHoldingRegisters;
const Bytes kRequestData = Hex("00 02 00 02");
const Bytes kRequest = Frame(kFn, kRequestData);
const Bytes kAnswer = Frame(kFn, Hex("04 0A 0B 0C 0D"));

const char* kRemainder = "0|Reading the remainder from channel";
const char* kRetry = "0|Retry";

struct TransactCase {
    const char* name;
    ScriptedPeer::Script script;
    int attempts;
    ModbusResult result;
    int exception;
    Lines log;
    bool quiet = false;
    int stopAfterPolls = -1;
    int frameMode = kModbusFrameTcp;
    int unit = 0;
};

void PrintTo(const TransactCase& c, std::ostream* os)
{
    *os << c.name;
}

Bytes AnswerWithHeader(const char* header)
{
    return Concat({Hex(header), Hex("03 04 0A 0B 0C 0D")});
}

const Bytes kRtuRequest = WithCrc(Hex("01 03 00 02 00 02"));
const Bytes kRtuAnswer = WithCrc(Hex("01 03 04 0A 0B 0C 0D"));

std::string RtuCrcLine()
{
    // The answer with its two CRC bytes swapped: want the true CRC, read the swapped value.
    uint16_t crc = (uint16_t)(kRtuAnswer[kRtuAnswer.size() - 2] | kRtuAnswer.back() << 8);
    char text[96];
    snprintf(text, sizeof text, "4|Wrong CRC (want '0x%X'; read '0x%X')", crc, (uint16_t)(crc >> 8 | crc << 8));
    return text;
}
Bytes RtuAnswerBadCrc()
{
    Bytes b = kRtuAnswer;
    std::swap(b[b.size() - 2], b[b.size() - 1]);
    return b;
}

std::vector<TransactCase> Cases()
{
    const Bytes wrongTid = AnswerWithHeader("00 7C 00 00 00 07 00");
    const char* tidLine = "4|Wrong transaction identifier (want '0x7B'; read '0x7C')";
    const char* noData = "4|No data (timeout). Check device connection.";
    Bytes big(249, 0x55);
    return {
        {"correct answer", {ExpectBytes(kRequest), SendBytes(kAnswer)}, 3, kModbusOk, 0, {}},
        {"wrong transaction id, then right",
         {ExpectBytes(kRequest), SendBytes(wrongTid), ExpectBytes(kRequest), SendBytes(kAnswer)},
         3, kModbusOk, 0, {tidLine, kRemainder, kRetry}},
        {"wrong transaction id every time",
         {ExpectBytes(kRequest), SendBytes(wrongTid), ExpectBytes(kRequest), SendBytes(wrongTid),
          ExpectBytes(kRequest), SendBytes(wrongTid)},
         3, kModbusWrongAnswer, -1,
         {tidLine, kRemainder, kRetry, tidLine, kRemainder, kRetry, tidLine, kRemainder}},
        {"wrong protocol id",
         {ExpectBytes(kRequest), SendBytes(AnswerWithHeader("00 7B 00 01 00 07 00"))}, 1, kModbusWrongAnswer, -1,
         {"4|Wrong protocol identifier (want '0x0'; read '0x1')", kRemainder}},
        {"wrong unit id",
         {ExpectBytes(kRequest), SendBytes(AnswerWithHeader("00 7B 00 00 00 07 05"))}, 1, kModbusWrongAnswer, -1,
         {"4|Wrong unit identifier (want '0x0'; read '0x5')", kRemainder}},
        {"only the first wrong header field is reported",
         {ExpectBytes(kRequest), SendBytes(AnswerWithHeader("00 7C 00 01 00 07 05"))}, 1, kModbusWrongAnswer, -1,
         {tidLine, kRemainder}},
        {"garbage", {ExpectBytes(kRequest), SendBytes(Bytes(12, 0xFF))}, 1, kModbusWrongAnswer, -1,
         {"4|Wrong transaction identifier (want '0x7B'; read '0xFFFF')", kRemainder}},
        {"wrong function code",
         {ExpectBytes(kRequest), SendBytes(Frame(4, Hex("04 0A 0B 0C 0D")))}, 1, kModbusWrongAnswer, -1,
         {"4|Wrong function code '0x4'", kRemainder}},
        {"exception 2 is not repeated", {ExpectBytes(kRequest), SendBytes(Frame(0x83, Hex("02")))}, 3,
         kModbusException, 2, {"4|Device answer exception '0x2' ('ILLEGAL DATA ADDRESS')"}},
        {"exception 7 has no name", {ExpectBytes(kRequest), SendBytes(Frame(0x83, Hex("07")))}, 3,
         kModbusException, 7, {"4|Device answer exception '0x7' ('')"}},
        {"exception 11", {ExpectBytes(kRequest), SendBytes(Frame(0x83, Hex("0B")))}, 1, kModbusException, 11,
         {"4|Device answer exception '0xB' ('GATEWAY TARGET DEVICE FAILED TO RESPOND')"}},
        {"exception 12 is outside the table", {ExpectBytes(kRequest), SendBytes(Frame(0x83, Hex("0C")))}, 1,
         kModbusException, 12, {"4|Device answer exception '0xC' ('')"}},
        {"partial answer, then silence", {ExpectBytes(kRequest), SendBytes(Frame(kFn, Hex("04 0A")))}, 1,
         kModbusTimeout, 0, {"4|Data incomplete (timeout)"}},
        {"silence", {ExpectBytes(kRequest)}, 1, kModbusTimeout, -1, {noData}},
        {"silence, quiet", {ExpectBytes(kRequest)}, 1, kModbusTimeout, -1, {}, true},
        {"silence, two attempts", {ExpectBytes(kRequest), ExpectBytes(kRequest)}, 2, kModbusTimeout, -1,
         {noData, kRetry, noData}},
        {"late answer inside the window", {ExpectBytes(kRequest), DelayMs(450), SendBytes(kAnswer)}, 1, kModbusOk, 0,
         {}},
        {"answer in trickles",
         {ExpectBytes(kRequest), SendBytes(Hex("00 7B 00")), DelayMs(30), SendBytes(Hex("00 00 07 00 03")),
          DelayMs(250), SendBytes(Hex("04 0A 0B")), DelayMs(30), SendBytes(Hex("0C 0D"))},
         1, kModbusOk, 0, {}},
        {"end after 3 of 7 header bytes", {ExpectBytes(kRequest), SendBytes(Hex("00 7B 00")), CloseConnection()}, 1,
         kModbusEof, -1, {"4|Data incomplete (EOF)"}},
        {"end before any byte", {ExpectBytes(kRequest), CloseConnection()}, 1, kModbusEof, -1,
         {"4|No data (EOF). Check device connection."}},
        {"end before any byte, quiet", {ExpectBytes(kRequest), CloseConnection()}, 1, kModbusEof, -1, {}, true},
        {"end inside the exception code",
         {ExpectBytes(kRequest), SendBytes(Hex("00 7B 00 00 00 03 00 83")), CloseConnection()}, 1, kModbusEof, -1,
         {"4|Data incomplete (EOF)"}},
        {"reset while receiving", {ExpectBytes(kRequest), ResetConnection()}, 1, kModbusReceiveFailed, -1,
         {"4|Receiving error: 'Connection reset by peer'"}},
        {"reset, then the retry cannot send", {ExpectBytes(kRequest), ResetConnection()}, 2, kModbusSendFailed, -1,
         {"4|Receiving error: 'Connection reset by peer'", kRetry,
          "4|Sending error: 'Cannot send after socket shutdown'"}},
        {"stopped before sending", {}, 3, kModbusStopped, -1, {kRemainder}, false, 0},
        {"stopped while waiting for the answer", {ExpectBytes(kRequest)}, 3, kModbusStopped, -1, {kRemainder},
         false, 2},
        {"stopped after an empty receive", {ExpectBytes(kRequest), DelayMs(900), SendBytes(kAnswer)}, 3,
         kModbusStopped, -1, {kRemainder}, false, 3},
        {"RTU style answer", {ExpectBytes(kRtuRequest), SendBytes(kRtuAnswer)}, 1, kModbusOk, 0, {}, false, -1,
         kModbusFrameRtu, 1},
        {"RTU style wrong CRC", {ExpectBytes(kRtuRequest), SendBytes(RtuAnswerBadCrc())}, 1, kModbusWrongAnswer, 0,
         {RtuCrcLine(), kRemainder}, false, -1, kModbusFrameRtu, 1},
        {"RTU style wrong device address",
         {ExpectBytes(kRtuRequest), SendBytes(WithCrc(Hex("02 03 04 0A 0B 0C 0D")))}, 1, kModbusWrongAnswer, -1,
         {"4|Wrong device address (want '0x1'; read '0x2')", kRemainder}, false, -1, kModbusFrameRtu, 1},
        {"RTU style exception", {ExpectBytes(kRtuRequest), SendBytes(WithCrc(Hex("01 83 04")))}, 3,
         kModbusException, 4, {"4|Device answer exception '0x4' ('SLAVE DEVICE FAILURE')"}, false, -1,
         kModbusFrameRtu, 1},
        {"too big a request", {}, 1, kModbusStopped, -1, {"4|Send data too big", kRemainder}},
        {"too big a request, two attempts", {}, 2, kModbusStopped, -1,
         {"4|Send data too big", kRemainder, kRetry, "4|Send data too big", kRemainder}},
    };
}

class TransactTable : public ::testing::TestWithParam<TransactCase> {};

TEST_P(TransactTable, ResultExceptionAndLog)
{
    const TransactCase& c = GetParam();
    ModbusSession s({c.script});
    ASSERT_TRUE(s.Start());
    s.device.unitId = c.unit;
    s.info.attempts = c.attempts;
    s.info.quiet = c.quiet;
    s.info.frameMode = c.frameMode;
    s.owner.stopAfterPolls = c.stopAfterPolls;
    if (c.result == kModbusTimeout) s.info.timeouts.readWindowSec = kSilenceWindowSec;

    const bool big = std::string(c.name).find("too big") != std::string::npos;
    Bytes bigData(249, 0x55);
    uint8_t count = 0, data[4] = {0, 0, 0, 0};
    const ModbusDataPiece request[] = {{big ? bigData.data() : (void*)kRequestData.data(),
                                        big ? 249 : (int32_t)kRequestData.size()}};
    const ModbusDataPiece answer[] = {{&count, 1}, {data, 4}};
    MODBUS_TalkHead head(s.info);
    ModbusStatus st = ModbusTransact(head, kFn, request, 1, answer, 2);

    EXPECT_EQ(st.result, c.result);
    EXPECT_EQ(st.exception, c.exception);
    EXPECT_EQ(s.owner.Styled(), c.log);
    if (c.result == kModbusOk) {
        EXPECT_EQ(count, 4);
        EXPECT_EQ(Bytes(data, data + 4), Hex("0A 0B 0C 0D"));
    }
    EXPECT_EQ(s.Finish(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Modbus, TransactTable, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<TransactCase>& i) {
                             std::string n;
                             for (const char* p = i.param.name; *p; p++)
                                 n += isalnum((unsigned char)*p) ? *p : '_';
                             return n;
                         });

TEST(Transact, LargestFrameIsSentWhole)
{
    Bytes data(248, 0x5A);
    ModbusSession s({{ExpectBytes(Frame(kFnGatewaySend, data)), SendBytes(Frame(kFnGatewaySend, Hex("00 00")))}});
    ASSERT_TRUE(s.Start());
    uint8_t two[2];
    const ModbusDataPiece request[] = {{nullptr, 5}, {data.data(), 100}, {data.data(), 0}, {data.data() + 100, 148}};
    const ModbusDataPiece answer[] = {{two, 2}};
    MODBUS_TalkHead head(s.info);
    ModbusStatus st = ModbusTransact(head, kFnGatewaySend, request, 4, answer, 1);
    EXPECT_EQ(st.result, kModbusOk);
    EXPECT_EQ(head.received, 10);
    EXPECT_TRUE(s.owner.Lines().empty());
    EXPECT_EQ(s.Finish(), std::vector<std::string>{});
}

TEST(Transact, NoAnswerDataAndMissingDevice)
{
    ModbusSession s({{ExpectBytes(Frame(kFnGatewayRead, {})), SendBytes(Frame(kFnGatewayRead, {}))}});
    ASSERT_TRUE(s.Start());
    MODBUS_TalkHead head(s.info);
    // A null answer array: nothing is read after the function code.
    EXPECT_EQ(ModbusTransact(head, kFnGatewayRead, nullptr, 0, nullptr, 3).result, kModbusOk);

    MODBUS_TalkInfo noDevice = s.info;
    noDevice.device = nullptr;
    MODBUS_TalkHead refused(noDevice);
    ModbusStatus st = ModbusTransact(refused, kFnGatewayRead, nullptr, 0, nullptr, 0);
    EXPECT_EQ(st.result, kModbusStopped);
    EXPECT_EQ(st.exception, -1);
    EXPECT_TRUE(s.owner.Lines().empty());
    EXPECT_EQ(s.Finish(), std::vector<std::string>{});
}

TEST(Transact, CheckValueFormatsAndKeepsAnEarlierFailure)
{
    RecordingOwner owner;
    ModbusResult r = kModbusOk;
    ModbusCheckValue(&owner, "Wrong reference type", 6, 6, r);
    EXPECT_EQ(r, kModbusOk);
    ModbusCheckValue(&owner, "Wrong reference type", 6, 0x1F, r);
    EXPECT_EQ(r, kModbusWrongAnswer);
    ModbusResult t = kModbusTimeout;
    ModbusCheckValue(&owner, "Wrong CRC", 0xFFFF, 0, t);
    EXPECT_EQ(t, kModbusTimeout);
    EXPECT_EQ(owner.Styled(), Lines{"4|Wrong reference type (want '0x6'; read '0x1F')"});
}

// The window counts whole seconds of the wall clock: starting just after a second begins
// makes "fewer than 6 whole seconds" mean at least 5.9 s of real time.
void StartAtSecond()
{
    time_t now = time(nullptr);
    for (int i = 0; i < 1200 && time(nullptr) == now; i++) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The real constants: 5 s socket time-out, 6 s window. A silent unit is given up after the
// second empty receive (about 10 s); an answer after 5.5 s still arrives in time.
TEST(TransactRealTimeouts, SilentUnitAndLateAnswer)
{
    auto run = [](ScriptedPeer::Script script, ModbusStatus* st, double* seconds, Lines* log) {
        ModbusSession s({std::move(script)}, kChannelSocketTimeoutMs);
        s.info.timeouts = ModbusTimeouts();
        if (!s.Start()) return false;
        uint8_t count = 0, data[4];
        const ModbusDataPiece request[] = {{(void*)kRequestData.data(), 4}};
        const ModbusDataPiece answer[] = {{&count, 1}, {data, 4}};
        MODBUS_TalkHead head(s.info);
        StartAtSecond();
        auto t0 = Clock::now();
        *st = ModbusTransact(head, kFn, request, 1, answer, 2);
        *seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        *log = s.owner.Styled();
        return s.Finish().empty();
    };
    ModbusStatus silent{}, late{};
    double silentSec = 0, lateSec = 0;
    Lines silentLog, lateLog;
    auto a = std::async(std::launch::async, run, ScriptedPeer::Script{ExpectBytes(kRequest)}, &silent, &silentSec,
                        &silentLog);
    auto b = std::async(std::launch::async, run,
                        ScriptedPeer::Script{ExpectBytes(kRequest), DelayMs(5500), SendBytes(kAnswer)}, &late,
                        &lateSec, &lateLog);
    EXPECT_TRUE(a.get());
    EXPECT_TRUE(b.get());
    EXPECT_EQ(silent.result, kModbusTimeout);
    EXPECT_EQ(silentLog, Lines{"4|No data (timeout). Check device connection."});
    EXPECT_GE(silentSec, 9.9);
    EXPECT_LT(silentSec, 11.5);
    EXPECT_EQ(late.result, kModbusOk);
    EXPECT_TRUE(lateLog.empty());
    EXPECT_GE(lateSec, 5.4);
    EXPECT_LT(lateSec, 6.5);
}

} // namespace
