// The six requests: exact request bytes after the MBAP header, the answer's own checks, and
// what reaches the caller's buffer.
#include <functional>
#include "tests/modbus/ModbusTestSession.h"

namespace {

using Lines = std::vector<std::string>;

const Bytes kRecord = Hex("01 00 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");   // 8 registers
const Bytes kEightRegs = Hex("00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08");

struct RequestCase {
    const char* name;
    uint8_t function;       // function code on the wire
    Bytes requestData;      // the request after the function code
    Bytes answerData;       // the scripted answer after the function code
    std::function<ModbusStatus(const MODBUS_TalkInfo&, uint8_t* destination)> call;
    ModbusResult result;
    Lines log;
    Bytes destination;      // expected start of the destination after the call (may be empty)
};

void PrintTo(const RequestCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<RequestCase> Cases()
{
    auto readRegs = [](const MODBUS_TalkInfo& i, uint8_t* d) { return ModbusReadRegisters(i, 3, 2, 2, d); };
    auto readRec = [](const MODBUS_TalkInfo& i, uint8_t* d) { return ModbusReadFileRecord(i, 20, 5, 0, 8, d); };
    auto writeRec = [](const MODBUS_TalkInfo& i, uint8_t*) {
        return ModbusWriteFileRecord(i, 21, 3, 1, 8, kRecord.data());
    };
    const uint8_t one[2] = {0x00, 0x01};
    auto keyed = [one](const MODBUS_TalkInfo& i, uint8_t*) {
        return ModbusWriteRegistersKeyed(i, kFnWriteRegistersKeyed, kRegReboot, 1, 0x1234, one);
    };
    const Bytes recHead = Hex("17 06 00 03 00 01 00 08");
    return {
        {"read registers", 3, Hex("00 02 00 02"), Hex("04 0A 0B 0C 0D"), readRegs, kModbusOk, {},
         Hex("0A 0B 0C 0D")},
        {"read registers, byte count 6", 3, Hex("00 02 00 02"), Hex("06 0A 0B 0C 0D 0E 0F"), readRegs,
         kModbusWrongAnswer, {"4|Wrong device data length (want '0x4'; read '0x6')"}, Hex("0A 0B 0C 0D")},
        {"read registers, exception skips the check", 3 | 0x80, Hex("00 02 00 02"), Hex("02"), readRegs,
         kModbusException, {"4|Device answer exception '0x2' ('ILLEGAL DATA ADDRESS')"}, {}},
        {"read file record", 20, Hex("07 06 00 05 00 00 00 08"), Concat({Hex("12 11 06"), kEightRegs}), readRec,
         kModbusOk, {}, kEightRegs},
        {"read file record, reference type 7", 20, Hex("07 06 00 05 00 00 00 08"),
         Concat({Hex("12 11 07"), kEightRegs}), readRec, kModbusWrongAnswer,
         {"4|Wrong reference type (want '0x6'; read '0x7')"}, kEightRegs},
        {"read file record, data length", 20, Hex("07 06 00 05 00 00 00 08"), Concat({Hex("13 11 07"), kEightRegs}),
         readRec, kModbusWrongAnswer, {"4|Wrong device data length (want '0x12'; read '0x13')"}, {}},
        {"read file record, record length", 20, Hex("07 06 00 05 00 00 00 08"),
         Concat({Hex("12 10 06"), kEightRegs}), readRec, kModbusWrongAnswer,
         {"4|Wrong device record length (want '0x11'; read '0x10')"}, {}},
        {"write file record", 21, Concat({recHead, kRecord}), Concat({recHead, kRecord}), writeRec, kModbusOk, {},
         {}},
        {"write file record, echo differs in data", 21, Concat({recHead, kRecord}),
         Concat({recHead, Hex("01 00 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E FF")}), writeRec, kModbusOk,
         {"4|Answer not equal request"}, {}},
        {"write file record, echo differs in header", 21, Concat({recHead, kRecord}),
         Concat({Hex("17 06 00 03 00 02 00 08"), kRecord}), writeRec, kModbusOk, {"4|Answer not equal request"}, {}},
        {"keyed write of the reboot register", 100, Hex("00 0E 00 01 02 12 34 00 01"), Hex("00 0E 00 01"), keyed,
         kModbusOk, {}, {}},
        {"keyed write, wrong start", 100, Hex("00 0E 00 01 02 12 34 00 01"), Hex("00 0F 00 02"), keyed,
         kModbusWrongAnswer, {"4|Wrong registers start address (want '0xE'; read '0xF')"}, {}},
        {"keyed write, wrong count", 100, Hex("00 0E 00 01 02 12 34 00 01"), Hex("00 0E 00 02"), keyed,
         kModbusWrongAnswer, {"4|Wrong registers count (want '0x1'; read '0x2')"}, {}},
        {"gateway send", 67, Hex("03 60 63"), Hex("AB CD"),
         [](const MODBUS_TalkInfo& i, uint8_t*) { return ModbusGatewaySend(i, Hex("03 60 63").data(), 3); },
         kModbusOk, {}, {}},
        {"gateway read", 65, {}, Hex("55 01 02 03 04 5F"),
         [](const MODBUS_TalkInfo& i, uint8_t* d) { return ModbusGatewayRead(i, d, 6); }, kModbusOk, {},
         Hex("55 01 02 03 04 5F")},
    };
}

class RequestTable : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestTable, BytesChecksAndDestination)
{
    const RequestCase& c = GetParam();
    const uint8_t asked = c.function & 0x7F;
    ModbusSession s({{ExpectBytes(Frame(asked, c.requestData)), SendBytes(Frame(c.function, c.answerData))}});
    ASSERT_TRUE(s.Start());
    s.info.attempts = kModbusSessionAttempts;
    uint8_t destination[64];
    memset(destination, 0xEE, sizeof destination);
    ModbusStatus st = c.call(s.info, destination);
    EXPECT_EQ(st.result, c.result);
    EXPECT_EQ(st.exception, c.result == kModbusException ? 2 : 0);
    EXPECT_EQ(s.owner.Styled(), c.log);
    EXPECT_EQ(Bytes(destination, destination + c.destination.size()), c.destination);
    EXPECT_EQ(s.Finish(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Modbus, RequestTable, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<RequestCase>& i) {
                             std::string n;
                             for (const char* p = i.param.name; *p; p++)
                                 n += isalnum((unsigned char)*p) ? *p : '_';
                             return n;
                         });

TEST(Requests, LargestWritesFitAFrameAndOneMoreRegisterDoesNot)
{
    Bytes regs(240, 0x11), head = Hex("F7 06 00 03 00 00 00 78");
    ModbusSession s({{ExpectBytes(Frame(21, Concat({head, regs}))), SendBytes(Frame(21, Concat({head, regs})))}});
    ASSERT_TRUE(s.Start());
    EXPECT_EQ(ModbusWriteFileRecord(s.info, 21, 3, 0, 120, regs.data()).result, kModbusOk);
    Bytes more(242, 0x11);
    EXPECT_EQ(ModbusWriteFileRecord(s.info, 21, 3, 0, 121, more.data()).result, kModbusStopped);
    EXPECT_EQ(ModbusWriteRegistersKeyed(s.info, 100, 0, 121, 0, more.data()).result, kModbusStopped);
    EXPECT_EQ(s.owner.Count("Send data too big"), 2);
    EXPECT_EQ(s.Finish(), std::vector<std::string>{});
}

TEST(Requests, CallerDescriptorIsLeftAsItWas)
{
    ModbusSession s({{ExpectBytes(Frame(65, {})), SendBytes(Frame(0xC1, Hex("06")))}});
    ASSERT_TRUE(s.Start());
    s.info.attempts = 3;
    s.info.transactionId = kModbusTransactionId;
    uint8_t d[6];
    ModbusStatus st = ModbusGatewayRead(s.info, d, 6);
    EXPECT_EQ(st.result, kModbusException);
    EXPECT_EQ(st.exception, 6);
    EXPECT_EQ(s.info.attempts, 3);
    EXPECT_EQ(s.info.transactionId, kModbusTransactionId);
    EXPECT_EQ(s.owner.Styled(), Lines{"4|Device answer exception '0x6' ('SLAVE DEVICE BUSY')"});
    EXPECT_EQ(s.Finish(), std::vector<std::string>{});
}

} // namespace
