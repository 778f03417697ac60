// One setting's values between text and register bytes, both directions, with the byte
// layouts a unit uses: big-endian numbers, scaled numbers, bits of one byte, code-page text
// and formatted bytes.
#include <gtest/gtest.h>

#include <vector>

#include "base/LogTypes.h"
#include "operations/OperationRunner.h"
#include "settings/SettingsCodec.h"
#include "tests/support/ScriptedPeer.h"
#include "tests/operations/RecordingUi.h"
#include "settings/SettingsXml.h"
#include "tests/settings/SettingsTestSupport.h"

namespace {

const std::vector<std::string> kNoValues = {"<none>"};

// "r" and "w" at the same place; byte above 0 selects one byte.
std::string Position(int file, int rec, int offset, int count, int byte = 0)
{
    const std::string at = "{\"file\":" + std::to_string(file) + ",\"rec\":" + std::to_string(rec) +
                           ",\"offset\":" + std::to_string(offset) + ",\"count\":" + std::to_string(count) +
                           ",\"byte\":" + std::to_string(byte) + "}";
    return "{\"r\":" + at + ",\"w\":" + at + "}";
}

std::string Setting(const std::string& type, const std::string& position, const std::string& description,
                    const std::string& attributes = "", const std::string& children = "")
{
    return Scalar(description, "gid=\"1\" type=\"" + type + "\" position='" + position + "' " + attributes, children);
}

// The one setting of a description loaded from xml; null when the loader refused it.
TiXmlElement* LoadOne(SettingsFixture& f, const std::string& xml)
{
    if (!f.Load(Description(Group(1, "G"), xml)) || f.model.Scalars().size() != 1)
        return nullptr;
    return f.model.Scalars()[0];
}

void ValuesSet(TiXmlElement* element, const std::vector<std::string>& values)
{
    DS_ValuesRemove(element);
    for (const std::string& v : values)
        DS_ValueAppend(element, v.c_str());
}

bool HasValues(const TiXmlElement* element)
{
    return DS_Values(element) != nullptr;
}

std::vector<std::string> ValuesOf(const TiXmlElement* element)
{
    std::vector<std::string> out;
    for (const SString& v : DS_ValueTexts(element))
        out.emplace_back(v.Text());
    return out;
}

struct DecodeCase {
    const char* name;
    std::string xml;
    const char* data;  // the whole record, register 0 first
    std::vector<std::string> values;  // kNoValues: the setting is left without values
    bool ok = true;
};

const DecodeCase kDecodeCases[] = {
    {"four bytes all set", Setting("Integer", Position(21, 0, 1, 2), "I"), "00 01 FF FF FF FF", {"4294967295"}},
    {"eight bytes all set are -1", Setting("Integer", Position(21, 0, 1, 4), "I"), "00 01 FF FF FF FF FF FF FF FF",
     {"-1"}},
    {"eight bytes top bit clear", Setting("Integer", Position(21, 0, 1, 4), "I"), "00 01 7F FF FF FF FF FF FF FE",
     {"9223372036854775806"}},
    {"one byte of an array of two", Setting("IntArray", Position(21, 0, 1, 1), "I", "", "<indexes>a,b</indexes>"),
     "00 01 81 02", {"129", "2"}},
    {"two bytes at offset 2", Setting("Integer", Position(21, 0, 2, 1), "I"), "00 01 11 11 AB CD", {"43981"}},
    {"three bytes", Setting("IntArray", Position(21, 0, 1, 3), "I", "", "<indexes>a,b</indexes>"),
     "00 01 01 02 03 04 05 06", {"66051", "263430"}},
    {"factor 0.1 rounds half up", Setting("Integer", Position(21, 0, 1, 1), "I", "", "<units>0.1</units>"),
     "00 01 00 19", {"3"}},
    {"factor 0.5 rounds half up", Setting("Integer", Position(21, 0, 1, 1), "I", "", "<units>0.5</units>"),
     "00 01 00 05", {"3"}},
    {"factor rounds half away below zero", Setting("Integer", Position(21, 0, 1, 4), "I", "", "<units>0.5</units>"),
     "00 01 FF FF FF FF FF FF FF FB", {"-3"}},
    {"factor 1 given keeps the exact number",
     Setting("Integer", Position(21, 0, 1, 4), "I", "", "<units>1</units>"), "00 01 7F FF FF FF FF FF FF FF",
     {"9223372036854775807"}},
    {"float with factor 0.1", Setting("Float", Position(21, 0, 1, 1), "F", "", "<units>0.1</units>"), "00 01 00 19",
     {"2.5"}},
    {"float without factor, six digits", Setting("Float", Position(21, 0, 1, 2), "F"), "00 01 00 12 D6 87",
     {"1.23457e+06"}},
    {"float not a number", Setting("Float", Position(21, 0, 1, 1), "F", "", "<units>nan</units>"), "00 01 00 19",
     {"nan"}},
    {"byte mode array of bits", Setting("IntArray", Position(21, 0, 1, 1, 2), "B", "", "<indexes>0,1,2,3,4,5,6,7</indexes>"),
     "00 01 FF 05", {"1", "0", "1", "0", "0", "0", "0", "0"}},
    {"byte mode bits from 8 on read 0",
     Setting("IntArray", Position(21, 0, 1, 1, 1), "B", "", "<indexes>0,1,2,3,4,5,6,7,8,9</indexes>"), "00 01 FF FF",
     {"1", "1", "1", "1", "1", "1", "1", "1", "0", "0"}},
    {"byte mode scalar", Setting("Integer", Position(21, 0, 2, 1, 2), "B"), "00 01 00 00 12 34", {"52"}},
    {"byte mode scalar with factor", Setting("Integer", Position(21, 0, 1, 1, 1), "B", "", "<units>0.5</units>"),
     "00 01 07 FF", {"4"}},
    {"u.u.u.u", Setting("String", Position(21, 0, 1, 2), "S", "format=\"u.u.u.u\""), "00 01 C0 A8 00 01",
     {"192.168.0.1"}},
    {"x:x", Setting("String", Position(21, 0, 1, 1), "S", "format=\"x:x\""), "00 01 00 1A", {"00:1a"}},
    {"X-X upper case", Setting("String", Position(21, 0, 1, 1), "S", "format=\"X-X\""), "00 01 0B 1A", {"0B-1A"}},
    {"cp1251 text with zero padding", Setting("String", Position(21, 0, 1, 3), "S"),
     "00 01 CF F3 F1 EA 00 00", {"Пуск"}},
    {"text ends at the first zero", Setting("String", Position(21, 0, 1, 2), "S"), "00 01 41 00 42 43", {"A"}},
    {"text filling every byte", Setting("String", Position(21, 0, 1, 2), "S"), "00 01 C4 EE EC 21", {"Дом!"}},
    {"byte undefined in the code page", Setting("String", Position(21, 0, 1, 1), "S"), "00 01 98 41", {"?A"}},
    {"string array", Setting("StringArray", Position(21, 0, 1, 2), "S", "", "<indexes>a,b</indexes>"),
     "00 01 41 42 43 00", {"AB", "C"}},
    {"record mark 0: not available", Setting("Integer", Position(21, 0, 1, 1), "I"), "00 00 00 05", kNoValues},
    {"record mark 2: not available", Setting("Integer", Position(21, 0, 1, 1), "I"), "00 02 00 05", kNoValues},
    {"record mark 0x101: not available", Setting("Integer", Position(21, 0, 1, 1), "I"), "01 01 00 05", kNoValues},
    {"setting past the data", Setting("Integer", Position(21, 0, 1, 2), "I"), "00 01 00 05", kNoValues, false},
    {"setting at register 0", Setting("Integer", Position(21, 0, 0, 1), "I"), "00 01 00 05", {"1"}},
    {"string of no registers", Setting("String", Position(21, 0, 1, 0), "S"), "00 01 41 42", {""}},
    {"negative offset", Setting("Integer", Position(21, 0, -1, 1), "I"), "00 01 00 05", kNoValues, false},
    {"negative count", Setting("Integer", Position(21, 0, 1, -1), "I"), "00 01 00 05", kNoValues, false},
    {"byte past the data", Setting("Integer", Position(21, 0, 1, 1, 3), "I"), "00 01 00 05", kNoValues, false},
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, Values)
{
    const DecodeCase& c = GetParam();
    SettingsFixture settings;
    TiXmlElement* element = LoadOne(settings, c.xml);
    ASSERT_NE(nullptr, element);
    ValuesSet(element, {"old"});
    const Bytes data = Hex(c.data);
    EXPECT_EQ(c.ok, DS_DevAnsw2XML_th(element, (int32_t)data.size() / 2, data.data())) << c.name;
    if (c.values == kNoValues) {
        EXPECT_FALSE(HasValues(element)) << c.name;
    } else {
        EXPECT_EQ(c.values, ValuesOf(element)) << c.name;
    }
    // Exactly one "values", and it is the last child.
    int lists = 0;
    for (const TiXmlElement* e = element->FirstChildElement("values"); e; e = e->NextSiblingElement("values"))
        ++lists;
    EXPECT_EQ(HasValues(element) ? 1 : 0, lists) << c.name;
    if (HasValues(element)) {
        EXPECT_EQ(std::string("values"), element->LastChild()->Value()) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Codec, DecodeTest, ::testing::ValuesIn(kDecodeCases),
                         [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::to_string(info.index); });

TEST(DecodeNoData, RemovesValuesAndSucceeds)
{
    SettingsFixture settings;
    TiXmlElement* element = LoadOne(settings, Setting("Integer", Position(21, 0, 1, 1), "I"));
    ASSERT_NE(nullptr, element);
    const Bytes data = Hex("00 01 00 05");
    ValuesSet(element, {"1"});
    EXPECT_TRUE(DS_DevAnsw2XML_th(element, 0, data.data()));
    EXPECT_FALSE(HasValues(element));
    ValuesSet(element, {"1"});
    EXPECT_TRUE(DS_DevAnsw2XML_th(element, 2, nullptr));
    EXPECT_FALSE(HasValues(element));
    EXPECT_TRUE(DS_DevAnsw2XML_th(nullptr, 2, data.data()));
    TiXmlElement plain("scalar");
    ValuesSet(&plain, {"1"});
    EXPECT_TRUE(DS_DevAnsw2XML_th(&plain, 2, data.data()));
    EXPECT_FALSE(HasValues(&plain));
    EXPECT_FALSE(HasValues(element));
    // The values are values of the setting's text node as CDATA.
    EXPECT_TRUE(DS_DevAnsw2XML_th(element, 2, data.data()));
    TiXmlPrinter printer;
    element->FirstChildElement("values")->Accept(&printer);
    EXPECT_NE(std::string::npos, std::string(printer.CStr()).find("<![CDATA[5]]>")) << printer.CStr();
}

struct EncodeCase {
    const char* name;
    std::string xml;
    std::vector<std::string> values;
    const char* before;  // the record buffer before, register 0 first
    const char* after;   // the buffer after; null: the encode fails
    const char* error = nullptr;  // the Error line it logs
};

const EncodeCase kEncodeCases[] = {
    {"four bytes", Setting("Integer", Position(21, 0, 1, 2), "I"), {"4294967295"}, "00 00 00 00 00 00",
     "00 00 FF FF FF FF"},
    {"eight bytes -1", Setting("Integer", Position(21, 0, 1, 4), "I"), {"-1"}, "00 00 00 00 00 00 00 00 00 00",
     "00 00 FF FF FF FF FF FF FF FF"},
    {"hexadecimal prefix", Setting("Integer", Position(21, 0, 1, 1), "I"), {"0x1F"}, "00 00 00 00", "00 00 00 1F"},
    {"octal prefix", Setting("Integer", Position(21, 0, 1, 1), "I"), {"010"}, "00 00 00 00", "00 00 00 08"},
    {"one byte keeps its neighbours", Setting("IntArray", Position(21, 0, 1, 1), "I", "", "<indexes>a,b</indexes>"),
     {"300", "-2"}, "00 00 00 00 AA BB", "00 00 2C FE AA BB"},
    {"two values at offset 2", Setting("IntArray", Position(21, 0, 2, 2), "I", "", "<indexes>a,b</indexes>"),
     {"5", "7"}, "00 00 00 00 00 00 00 00 00 00", "00 00 00 00 00 05 00 07 00 00"},
    {"factor 0.5", Setting("Integer", Position(21, 0, 1, 1), "I", "", "<units>0.5</units>"), {"7"}, "00 00 00 00",
     "00 00 00 0E"},
    {"integer text read whole before the factor", Setting("Integer", Position(21, 0, 1, 1), "I", "", "<units>0.1</units>"),
     {"2.9"}, "00 00 00 00", "00 00 00 14"},
    {"factor 1 given keeps the exact number", Setting("Integer", Position(21, 0, 1, 4), "I", "", "<units>1</units>"),
     {"9223372036854775807"}, "00 00 00 00 00 00 00 00 00 00", "00 00 7F FF FF FF FF FF FF FF"},
    {"float with factor 0.1", Setting("Float", Position(21, 0, 1, 1), "F", "", "<units>0.1</units>"), {"2.46"},
     "00 00 00 00", "00 00 00 19"},
    {"float rounds half away below zero", Setting("Float", Position(21, 0, 1, 1), "F", "", "<units>0.1</units>"),
     {"-0.25"}, "00 00 00 00", "00 00 FF FD"},
    {"float without factor", Setting("Float", Position(21, 0, 1, 1), "F"), {"2.5"}, "00 00 00 00", "00 00 00 03"},
    {"byte mode bits keep the others",
     Setting("IntArray", Position(21, 0, 1, 1, 1), "B", "", "<indexes>a,b,c</indexes>"), {"1", "0", "1"},
     "00 00 F2 77", "00 00 F5 77"},
    {"byte mode bits from 8 on ignored",
     Setting("IntArray", Position(21, 0, 1, 1, 2), "B", "", "<indexes>0,1,2,3,4,5,6,7,8</indexes>"),
     {"0", "0", "0", "0", "0", "0", "0", "12", "1"}, "00 00 11 00", "00 00 11 80"},
    {"byte mode scalar", Setting("Integer", Position(21, 0, 1, 1, 2), "B"), {"300"}, "00 00 AB CD", "00 00 AB 2C"},
    {"byte mode scalar with factor", Setting("Integer", Position(21, 0, 1, 1, 1), "B", "", "<units>0.5</units>"),
     {"7"}, "00 00 AB CD", "00 00 0E CD"},
    {"cp1251 with zero padding", Setting("String", Position(21, 0, 1, 4), "S"), {"Дом"},
     "00 00 11 11 11 11 11 11 11 11", "00 00 C4 EE EC 00 00 00 00 00"},
    {"text of exactly the size", Setting("String", Position(21, 0, 1, 2), "S"), {"Пуск"}, "00 00 00 00 00 00 55 55",
     "00 00 CF F3 F1 EA 55 55"},
    {"longer text cut", Setting("String", Position(21, 0, 1, 1), "S"), {"ABC"}, "00 00 00 00 55 55", "00 00 41 42 55 55"},
    {"unconvertible text gives zeros", Setting("String", Position(21, 0, 1, 2), "S"), {"A\xe4\xb8\xad"},
     "00 00 11 11 11 11", "00 00 00 00 00 00"},
    {"x:x:x:x:x:x", Setting("String", Position(21, 0, 1, 3), "S", "format=\"x:x:x:x:x:x\""), {"00:1a:2b:3c:4d:5e"},
     "00 00 00 00 00 00 00 00", "00 00 00 1A 2B 3C 4D 5E"},
    {"u.u.u.u", Setting("String", Position(21, 0, 1, 2), "S", "format=\"u.u.u.u\""), {"192.168.0.1"},
     "00 00 00 00 00 00", "00 00 C0 A8 00 01"},
    {"literal moves one character", Setting("String", Position(21, 0, 1, 1), "S", "format=\"u\xc2\xb0u\""),
     {"7\xc2\xb0" "9"}, "00 00 00 00", "00 00 07 09"},
    {"wrong value size", Setting("IntArray", Position(21, 0, 1, 3), "I", "", "<indexes>a,b</indexes>"), {"1", "2"},
     "00 00 00 00 00 00 00 00", nullptr, "Wrong value size"},
    {"no value", Setting("IntArray", Position(21, 0, 1, 2), "I", "", "<indexes>a,b</indexes>"), {"1"},
     "00 00 00 00 00 00", nullptr, "No value"},
    {"setting past the buffer", Setting("Integer", Position(21, 0, 2, 2), "I"), {"1"}, "00 00 00 00 00 00", nullptr,
     "Assert: Overflow regCount"},
};

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, Bytes)
{
    const EncodeCase& c = GetParam();
    RecordingUi ui;
    OperationRunner runner(&ui);
    ui.Attach(&runner);
    SettingsFixture settings;
    TiXmlElement* element = LoadOne(settings, c.xml);
    ASSERT_NE(nullptr, element);
    ValuesSet(element, c.values);
    Bytes buffer = Hex(c.before);
    const bool ok = DS_XML2DevData(element, (int32_t)buffer.size() / 2, buffer.data(), &runner);
    EXPECT_EQ(c.after != nullptr, ok) << c.name << "\n" << ui.Dump();
    if (c.after) {
        EXPECT_EQ(Hex(c.after), buffer) << c.name;
    }
    if (c.error) {
        EXPECT_EQ(std::vector<std::string>{c.error}, ui.Texts()) << c.name;
        EXPECT_EQ(LogStyleError, ui.StyleOf(c.error)) << c.name;
    } else {
        EXPECT_TRUE(ui.Texts().empty()) << c.name << "\n" << ui.Dump();
    }
}

INSTANTIATE_TEST_SUITE_P(Codec, EncodeTest, ::testing::ValuesIn(kEncodeCases),
                         [](const ::testing::TestParamInfo<EncodeCase>& info) { return std::to_string(info.index); });

TEST(EncodeNothingToDo, NoBufferNoCountNoRecord)
{
    SettingsFixture settings;
    TiXmlElement* element = LoadOne(settings, Setting("Integer", Position(21, 0, 1, 1), "I"));
    ASSERT_NE(nullptr, element);
    Bytes buffer = Hex("00 00 00 00");
    // Without values: "No value" would come if the encode went on.
    EXPECT_TRUE(DS_XML2DevData(element, 0, buffer.data(), nullptr));
    EXPECT_TRUE(DS_XML2DevData(element, 2, nullptr, nullptr));
    TiXmlElement plain("scalar");
    EXPECT_TRUE(DS_XML2DevData(&plain, 2, buffer.data(), nullptr));
    EXPECT_EQ(Hex("00 00 00 00"), buffer);
    EXPECT_FALSE(DS_XML2DevData(element, 2, buffer.data(), nullptr));
}

}  // namespace
