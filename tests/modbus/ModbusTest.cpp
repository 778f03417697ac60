// The Modbus client's request bytes, results, lines and bytes read against scripted peers; random answers.
#include <gtest/gtest.h>
#include <random>
#include "channels/TalkChannel_TCP.h"
#include "modbus/Modbus.h"
#include "tests/support/RecordFrames.h"
#include "tests/support/RecordingOwner.h"

std::string ModbusAnswerFault(const uint8_t* data, size_t size, ModbusResult* result);
ModbusStatus ModbusRequest(TalkChannel* channel, int request, uint8_t* out, int attempts, bool rtu, bool quiet,
                           const ModbusTimeouts& timeouts);

namespace {

Bytes Frame(uint8_t function, const Bytes& data) { return RecordFrame(function, data, 1); }   // unit 1
Bytes Set(Bytes b, size_t at, uint8_t value) { return b[at] = value, b; }
std::string Wrong(const char* field, const char* want, const char* read)
{
    return "\n4|Wrong " + std::string(field) + " (want '0x" + want + "'; read '0x" + read + "')";
}

const Bytes kRequest = Frame(3, Hex("00 02 00 02")), kAnswer = Frame(3, Hex("04 0A 0B 0C 0D"));
const std::string kRem = "\n0|Reading the remainder from channel", kRetry = "\n0|Retry";
const std::string kNoData = "\n4|No data (timeout). Check device connection.";
// The peer ends after its answer, so the drain of a wrong one ends at once.
ScriptedPeer::Script Ask(Bytes answer, Bytes request = kRequest)
{
    return {ExpectBytes(request), SendBytes(answer), CloseConnection()};
}
ScriptedPeer::Script Ask(uint8_t function, const Bytes& request, const Bytes& answer)
{
    return Ask(Frame(function, answer), Frame(function, request));
}

enum { kRegs, kRecord, kWrite, kKeyed, kSend, kRead = 6, kLargest, kTooBig };   // ModbusRequest's numbers
enum { kQuiet = 1, kRtu = 2, kTalkLog = 4 };

struct Case {
    const char* name;
    ScriptedPeer::Script script;
    std::string outcome;   // result, exception, the bytes read and the log lines
    int request = kRegs, attempts = 1, flags = 0, stopAfterPolls = -1;
};

std::vector<Case> Cases()
{
    const Bytes wrongTid = Set(kAnswer, 1, 0x7C), rtuRequest = Hex("01 03 00 02 00 02 65 CB");
    const Bytes rtu = Hex("01 03 04 0A 0B 0C 0D 4C EC"), record = Hex("07 06 00 05 00 00 00 08");
    const Bytes write = Hex("17 06 00 03 00 01 00 08 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");
    const Bytes eight = Hex("00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08");
    const Bytes keyed = Hex("00 0E 00 01 02 12 34 00 01");
    Bytes largest = Hex("F7 06 00 03 00 00 00 78");
    for (int i = 0; i < 240; i++) largest.push_back((uint8_t)i);
    const std::string data = "0 0 0A 0B 0C 0D", big = "\n4|Send data too big";
    const std::string records = " 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08";
    auto answer = [&](const char* lengths) { return Ask(20, record, Concat({Hex(lengths), eight})); };
    const std::string reset = "\n4|Receiving error: 'Connection reset by peer'";
    const PeerStep ask = ExpectBytes(kRequest), close = CloseConnection();
    return {
        {"correct answer", Ask(kAnswer), data, kRegs, 3},
        {"wrong transaction id, then right", {ask, SendBytes(wrongTid), ask, SendBytes(kAnswer)},
         data + Wrong("transaction identifier", "7B", "7C") + kRem + kRetry, kRegs, 3},
        {"wrong protocol id", Ask(Set(kAnswer, 3, 1)), "4 -1" + Wrong("protocol identifier", "0", "1") + kRem},
        {"wrong unit id", Ask(Set(kAnswer, 6, 5)), "4 -1" + Wrong("unit identifier", "1", "5") + kRem},
        {"wrong function code", Ask(Set(kAnswer, 7, 4)), "4 -1\n4|Wrong function code '0x4'" + kRem},
        {"exception 2, not repeated", Ask(Frame(0x83, Hex("02"))),
         "5 2\n4|Device answer exception '0x2' ('ILLEGAL DATA ADDRESS')", kRegs, 3},
        {"partial answer, then silence", {ask, SendBytes(Frame(3, Hex("04 0A")))},
         "6 0 0A\n4|Data incomplete (timeout)"},
        {"silence, quiet", {ask}, "6 -1", kRegs, 1, kQuiet},
        {"silence, two attempts", {ask, ask}, "6 -1" + kNoData + kRetry + kNoData, kRegs, 2},
        {"answer in trickles", {ask, SendBytes(Hex("00 7B 00")), DelayMs(30), SendBytes(Hex("00 00 07 01 03")),
                                DelayMs(250), SendBytes(Hex("04 0A 0B")), DelayMs(30), SendBytes(Hex("0C 0D"))}, data},
        {"end after 3 of 7 header bytes", {ask, SendBytes(Hex("00 7B 00")), close}, "7 -1\n4|Data incomplete (EOF)"},
        {"end before any byte", {ask, close}, "7 -1\n4|No data (EOF). Check device connection."},
        {"end before any byte, quiet", {ask, close}, "7 -1", kRegs, 1, kQuiet},
        {"reset, then the retry cannot send", {ask, ResetConnection()},
         "2 -1" + reset + kRetry + "\n4|Sending error: 'Cannot send after socket shutdown'", kRegs, 2},
        {"stopped before sending, nothing read", {}, "8 -1" + kRem, kRegs, 3, kTalkLog, 0},
        {"stopped while waiting", {ask}, "8 -1" + kRem, kRegs, 3, 0, 2},
        {"RTU answer", Ask(rtu, rtuRequest), data, kRegs, 1, kRtu},
        {"RTU wrong CRC", Ask(Set(Set(rtu, 7, 0xEC), 8, 0x4C), rtuRequest),
         "4 0 0A 0B 0C 0D" + Wrong("CRC", "EC4C", "4CEC") + kRem, kRegs, 1, kRtu},
        {"RTU wrong device address", Ask(Hex("02 03 04 0A 0B 0C 0D 7F EC"), rtuRequest),
         "4 -1" + Wrong("device address", "1", "2") + kRem, kRegs, 1, kRtu},
        {"RTU exception", Ask(Hex("01 83 04 40 F3"), rtuRequest),
         "5 4\n4|Device answer exception '0x4' ('SLAVE DEVICE FAILURE')", kRegs, 3, kRtu},
        {"byte count 6", Ask(Frame(3, Hex("06 0A 0B 0C 0D 0E 0F"))),
         "4 0 0A 0B 0C 0D" + Wrong("device data length", "4", "6")},
        {"read file record", answer("12 11 06"), "0 0" + records, kRecord},
        {"reference type 7", answer("12 11 07"), "4 0" + records + Wrong("reference type", "6", "7"), kRecord},
        {"record data length", answer("13 11 07"), "4 0" + records + Wrong("device data length", "12", "13"), kRecord},
        {"record length", answer("12 10 06"), "4 0" + records + Wrong("device record length", "11", "10"), kRecord},
        {"write file record", Ask(21, write, write), "0 0", kWrite},
        {"echo differs in data", Ask(21, write, Set(write, 23, 0xFF)), "0 0\n4|Answer not equal request", kWrite},
        {"echo differs in header", Ask(21, write, Set(write, 5, 2)), "0 0\n4|Answer not equal request", kWrite},
        {"largest frame", Ask(21, largest, largest), "0 0", kLargest},
        {"one register more, two attempts", {}, "8 -1" + big + kRem + kRetry + big + kRem, kTooBig, 2},
        {"keyed write", Ask(100, keyed, Hex("00 0E 00 01")), "0 0", kKeyed},
        {"keyed write, wrong start and count", Ask(100, keyed, Hex("00 0F 00 02")),
         "4 0" + Wrong("registers start address", "E", "F"), kKeyed},
        {"keyed write, wrong count", Ask(100, keyed, Hex("00 0E 00 02")), "4 0" + Wrong("registers count", "1", "2"),
         kKeyed},
        {"gateway send", Ask(67, Hex("00 01 02"), Hex("AB CD")), "0 0", kSend},
        {"gateway read", Ask(65, {}, Hex("55 01 02 03 04 5F")), "0 0 55 01 02 03 04 5F", kRead},
    };
}

// Time-outs short enough for failure cases (the read window counts whole seconds, so 3 leaves a
// slow peer on a loaded machine at least 2 s).
TEST(Modbus, ResultLogAndBytesOfEveryCase)
{
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer({c.script});
        RecordingOwner owner;
        TalkChannel_TCP channel(&owner, "", 200);
        ASSERT_TRUE(peer.Start() && channel.Open() && channel.Connect(peer.HostPort().c_str()));
        owner.Clear();
        owner.stopAfterPolls = c.stopAfterPolls;
        owner.talkLog = c.flags & kTalkLog;
        std::vector<uint8_t> out(256, 0xEE);   // 0xEE: not written
        ModbusStatus st = ModbusRequest(&channel, c.request, out.data(), c.attempts, c.flags & kRtu, c.flags & kQuiet,
                                        {c.outcome[0] == '6' ? 1 : 3, 10, 0, 10});   // shorter where nothing comes
        std::string outcome = std::to_string(st.result) + " " + std::to_string(st.exception);
        for (const uint8_t* at = out.data(); *at != 0xEE; at++) outcome += " " + HexText(at, 1).substr(0, 2);
        for (const std::string& line : owner.Styled()) outcome += "\n" + line;
        EXPECT_EQ(outcome, c.outcome);
        channel.Close();
        peer.Finish();
        EXPECT_EQ(peer.Problems(), std::vector<std::string>{});
    }
}

// Seeded random answers to each request, in random pieces, with and without a stop (the rules and
// the input layout: FuzzModbusAnswer.cpp).
TEST(Modbus, RandomAnswersKeepEveryRule)
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
        switch (rng() % 6) {   // 0: unchanged
        case 1: frame[rng() % frame.size()] ^= (uint8_t)(1 + rng() % 255); break;
        case 2: frame.resize(rng() % frame.size()); break;
        case 3: frame.resize(frame.size() + rng() % 300, (uint8_t)rng()); break;
        case 4: frame[7] |= 0x80; frame.resize(9); break;
        case 5: frame.resize(rng() % 300); for (uint8_t& b : frame) b = (uint8_t)rng();
        }
        const Bytes input = Concat({{control, (uint8_t)rng(), (uint8_t)(rng() % 250)}, frame});
        ModbusResult result = kModbusOk;
        ASSERT_EQ(ModbusAnswerFault(input.data(), input.size(), &result), "") << "seed " << seed;
        outcomes[result]++;
    }
    for (ModbusResult r : {kModbusOk, kModbusWrongAnswer, kModbusException, kModbusTimeout, kModbusEof, kModbusStopped})
        EXPECT_GT(outcomes[r], 0) << "result " << r;
}

} // namespace
