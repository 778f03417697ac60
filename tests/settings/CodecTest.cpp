// One setting's values between text and register bytes, both directions, in the layouts a unit
// uses: big-endian numbers, scaled numbers, bits of one byte, code-page text, formatted bytes.
#include <gtest/gtest.h>

#include "base/LogTypes.h"
#include "settings/SettingsCodec.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/support/RecordingUi.h"
#include "tests/settings/SettingsTestSupport.h"

namespace {
// The setting of group 1 at file 21, record 0; extra is its attributes, or its children when
// it starts with '<'. Null when the loader refused it.
TiXmlElement* LoadOne(SettingsFixture& f, const char* type, int offset, int count, int byte, const std::string& extra)
{
    const bool body = !extra.empty() && extra[0] == '<';
    if (!f.Load(Description(Group(1, "G"), Item("S", 1, type, Pos(21, 0, offset, count, byte), body ? extra : "",
                                                body ? "" : extra))))
        return nullptr;
    return f.model.Scalars().size() == 1 ? f.model.Scalars()[0] : nullptr;
}

struct DecodeCase {
    const char* type;
    int offset, count, byte;
    const char* extra;
    const char* data;                 // the whole record, register 0 (the mark) first
    std::string values;  // "<none>": the setting is left without values
    bool ok;
};

const DecodeCase kDecodeCases[] = {
    {"Integer", 1, 2, 0, "", "00 01 FF FF FF FF", "4294967295", true},
    {"Integer", 1, 4, 0, "", "00 01 FF FF FF FF FF FF FF FF", "-1", true},
    {"IntArray", 1, 1, 0, "<indexes>a,b</indexes>", "00 01 81 02", "129,2", true},
    {"Integer", 2, 1, 0, "", "00 01 11 11 AB CD", "43981", true},
    {"IntArray", 1, 3, 0, "<indexes>a,b</indexes>", "00 01 01 02 03 04 05 06", "66051,263430", true},
    {"Integer", 1, 1, 0, "<units>0.1e0xyz</units>", "00 01 00 19", "3", true},  // half rounds up
    {"Integer", 1, 4, 0, "<units>0.5</units>", "00 01 FF FF FF FF FF FF FF FB", "-3", true},
    {"Integer", 1, 4, 0, "<units>1</units>", "00 01 7F FF FF FF FF FF FF FF", "9223372036854775807", true},
    {"Integer", 1, 4, 0, "<units>10</units>", "00 01 7F FF FF FF FF FF FF FF", "92233720368547758080", true},
    {"Float", 1, 1, 0, "<units>0.1</units>", "00 01 00 19", "2.5", true},
    {"Float", 1, 2, 0, "", "00 01 00 12 D6 87", "1.23457e+06", true},
    {"Float", 1, 1, 0, "<units>nan</units>", "00 01 00 19", "nan", true},
    {"IntArray", 1, 1, 2, "<indexes>0,1,2,3,4,5,6,7</indexes>", "00 01 FF 05", "1,0,1,0,0,0,0,0", true},
    {"IntArray", 1, 1, 1, "<indexes>0,1,2,3,4,5,6,7,8,9</indexes>", "00 01 FF FF", "1,1,1,1,1,1,1,1,0,0", true},
    {"Integer", 2, 1, 2, "", "00 01 00 00 12 34", "52", true},
    {"Integer", 1, 1, 1, "<units>0.5</units>", "00 01 07 FF", "4", true},
    {"String", 1, 2, 0, "format=\"u.u.u.u\"", "00 01 C0 A8 00 01", "192.168.0.1", true},
    {"String", 1, 1, 0, "format=\"X-x\"", "00 01 0B 1A", "0B-1a", true},
    {"String", 1, 3, 0, "", "00 01 CF F3 F1 EA 00 00", "Пуск", true},
    {"String", 1, 2, 0, "", "00 01 41 00 42 43", "A", true},
    {"String", 1, 1, 0, "", "00 01 98 41", "?A", true},  // 0x98 is undefined in the code page
    {"StringArray", 1, 2, 0, "<indexes>a,b</indexes>", "00 01 41 42 43 00", "AB,C", true},
    {"Integer", 1, 1, 0, "", "00 00 00 05", "<none>", true},  // record marks other than 1: not available
    {"Integer", 0, 1, 0, "", "00 01 00 05", "1", true},
    {"String", 1, 0, 0, "", "00 01 41 42", "", true},
    {"Integer", 1, 2, 0, "", "00 01 00 05", "<none>", false},  // past the data
    {"Integer", 1, 1, 3, "", "00 01 00 05", "<none>", false},
    {"Integer", -1, 1, 0, "", "00 01 00 05", "<none>", false},
    {"Integer", 1, -1, 0, "", "00 01 00 05", "<none>", false},
};

struct EncodeCase {
    const char* type;
    int offset, count, byte;
    const char* extra;
    const char* values;
    const char* before;  // the record buffer, register 0 first
    const char* after;   // null: the encode fails with the Error line in `after`'s place
    const char* error;
};

const EncodeCase kEncodeCases[] = {
    {"Integer", 1, 2, 0, "", "4294967295", "00 00 00 00 00 00", "00 00 FF FF FF FF", nullptr},
    {"Integer", 1, 4, 0, "", "-1", "00 00 00 00 00 00 00 00 00 00", "00 00 FF FF FF FF FF FF FF FF", nullptr},
    {"Integer", 1, 1, 0, "", "0x1F", "00 00 00 00", "00 00 00 1F", nullptr},
    {"IntArray", 1, 1, 0, "<indexes>a,b</indexes>", "300,-2", "00 00 00 00 AA BB", "00 00 2C FE AA BB", nullptr},
    {"IntArray", 2, 2, 0, "<indexes>a,b</indexes>", "5,7", "00 00 00 00 00 00 00 00 00 00",
     "00 00 00 00 00 05 00 07 00 00", nullptr},
    {"Integer", 1, 1, 0, "<units>0.5</units>", "7", "00 00 00 00", "00 00 00 0E", nullptr},
    {"Integer", 1, 1, 0, "<units>0.1</units>", "2.9", "00 00 00 00", "00 00 00 14", nullptr},  // whole first
    {"Integer", 1, 4, 0, "<units>1</units>", "9223372036854775807", "00 00 00 00 00 00 00 00 00 00",
     "00 00 7F FF FF FF FF FF FF FF", nullptr},
    {"Float", 1, 1, 0, "<units>0.1</units>", "2.46", "00 00 00 00", "00 00 00 19", nullptr},
    {"Float", 1, 1, 0, "<units>0.1</units>", "-0.25", "00 00 00 00", "00 00 FF FD", nullptr},
    {"Float", 1, 1, 0, "", "2.5", "00 00 00 00", "00 00 00 03", nullptr},
    {"IntArray", 1, 1, 1, "<indexes>a,b,c</indexes>", "1,0,1", "00 00 F2 77", "00 00 F5 77", nullptr},
    {"IntArray", 1, 1, 2, "<indexes>0,1,2,3,4,5,6,7,8</indexes>", "0,0,0,0,0,0,0,12,1", "00 00 11 00",
     "00 00 11 80", nullptr},
    {"Integer", 1, 1, 2, "", "300", "00 00 AB CD", "00 00 AB 2C", nullptr},
    {"Integer", 1, 1, 1, "<units>0.5</units>", "7", "00 00 AB CD", "00 00 0E CD", nullptr},
    {"String", 1, 4, 0, "", "Дом", "00 00 11 11 11 11 11 11 11 11", "00 00 C4 EE EC 00 00 00 00 00", nullptr},
    {"String", 1, 1, 0, "", "ABC", "00 00 00 00 55 55", "00 00 41 42 55 55", nullptr},
    {"String", 1, 2, 0, "", "A\xe4\xb8\xad", "00 00 11 11 11 11", "00 00 00 00 00 00", nullptr},  // no cp1251
    {"String", 1, 3, 0, "format=\"x:x:x:x:x:x\"", "00:1a:2b:3c:4d:5e", "00 00 00 00 00 00 00 00",
     "00 00 00 1A 2B 3C 4D 5E", nullptr},
    {"String", 1, 1, 0, "format=\"u\xc2\xb0u\"", "7\xc2\xb0" "9", "00 00 00 00", "00 00 07 09", nullptr},
    {"IntArray", 1, 3, 0, "<indexes>a,b</indexes>", "1,2", "00 00 00 00 00 00 00 00", nullptr, "Wrong value size"},
    {"IntArray", 1, 2, 0, "<indexes>a,b</indexes>", "1", "00 00 00 00 00 00", nullptr, "No value"},
    {"Integer", 2, 2, 0, "", "1", "00 00 00 00 00 00", nullptr, "Assert: Overflow regCount"},
};

TEST(SettingsCodec, DecodeAndEncodeWithAndWithoutData)
{
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.extra + " " + c.data);
        SettingsFixture f;
        TiXmlElement* element = LoadOne(f, c.type, c.offset, c.count, c.byte, c.extra);
        ASSERT_NE(nullptr, element);
        ValuesPut(element, "old");
        const Bytes data = Hex(c.data);
        EXPECT_EQ(c.ok, DS_DevAnsw2XML_th(element, (int32_t)data.size() / 2, data.data()));
        EXPECT_EQ(c.values, ValuesOf(element));
    }
    for (const EncodeCase& c : kEncodeCases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.extra + " " + c.values);
        RecordingUi ui;
        OperationRunner runner(&ui);
        ui.Attach(&runner);
        SettingsFixture f;
        TiXmlElement* element = LoadOne(f, c.type, c.offset, c.count, c.byte, c.extra);
        ASSERT_NE(nullptr, element);
        ValuesPut(element, c.values);
        Bytes buffer = Hex(c.before);
        EXPECT_EQ(c.after != nullptr, DS_XML2DevData(element, (int32_t)buffer.size() / 2, buffer.data(), &runner));
        EXPECT_EQ(c.after ? Hex(c.after) : buffer, buffer);
        EXPECT_EQ(c.error ? std::vector<std::string>{c.error} : std::vector<std::string>{}, ui.Texts());
        EXPECT_EQ(c.error ? LogStyleError : -1, ui.StyleOf(c.error ? c.error : "-"));
    }
    SettingsFixture f;
    TiXmlElement* element = LoadOne(f, "Integer", 1, 1, 0, "");
    TiXmlElement plain("scalar");
    Bytes data = Hex("00 01 00 05");
    // Decoding without data or registers, or into an element without a record, removes the values.
    for (int i = 0; i < 3; ++i) {
        TiXmlElement* e = i < 2 ? element : &plain;
        ValuesPut(e, "1");
        EXPECT_TRUE(DS_DevAnsw2XML_th(e, i ? 2 : 0, i == 1 ? nullptr : data.data()));
        EXPECT_EQ("<none>", ValuesOf(e)) << i;
    }
    EXPECT_TRUE(DS_DevAnsw2XML_th(nullptr, 2, data.data()));
    // Encoding without a buffer, registers or record does nothing; without values it fails.
    EXPECT_TRUE(DS_XML2DevData(element, 0, data.data(), nullptr));
    EXPECT_TRUE(DS_XML2DevData(element, 2, nullptr, nullptr));
    EXPECT_TRUE(DS_XML2DevData(&plain, 2, data.data(), nullptr));
    EXPECT_EQ(Hex("00 01 00 05"), data);
    EXPECT_FALSE(DS_XML2DevData(element, 2, data.data(), nullptr));
}
}  // namespace
