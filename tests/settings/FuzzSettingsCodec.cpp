// libFuzzer entry for the settings decoder: any bytes as a record's registers, decoded into
// settings of every shape (number sizes, scale factors, byte mode, code-page text, formats,
// arrays, a setting reaching past the record), then encoded back from whatever text came out.
#include <cstring>
#include <string>

#include "settings/SettingsCodec.h"
#include "tests/settings/SettingsTestSupport.h"

namespace {

// type, offset, count, byte, then children, or attributes after a colon.
const char* const kShapes[] = {
    "Integer 1 1 0", "Integer 2 2 0 <units>0.1</units>", "Integer 1 4 0", "Integer 60 4 0 <units>-2.5</units>",
    "IntArray 1 3 0 <indexes>a,b</indexes>", "IntArray 5 1 2 <indexes>0,1,2,3,4,5,6,7,8,9</indexes>",
    "Integer 3 2 4 <units>0.5</units>", "Float 1 2 0 <units>0.001</units>", "FloatArray 10 8 0 <indexes>a,b,c,d</indexes>",
    "String 1 8 0", "StringArray 20 6 0 <indexes>a,b,c</indexes>", "String 30 2 0 :format=\"u.u.u.u\"",
    "String 32 3 0 :format=\"x:x:x:x:x:x\"", "String 40 2 0 :format=\"X-u\xc2\xb0xu\"", "Integer 63 2 0",
};

DeviceSettings* Model()
{
    static RecordingSettingsUi ui;
    static DeviceSettings model(&ui);
    static const bool loaded = [] {
        std::string scalars;
        for (size_t i = 0; i < sizeof kShapes / sizeof kShapes[0]; ++i) {
            char type[16];
            int offset, count, byte, used = 0;
            sscanf(kShapes[i], "%15s %d %d %d %n", type, &offset, &count, &byte, &used);
            const std::string rest = kShapes[i] + used, pos = Pos(21, (int)i, offset, count, byte);
            scalars += rest[0] == ':' ? Item("s", 1, type, pos, "", rest.substr(1)) : Item("s", 1, type, pos, rest);
        }
        std::string text = Description(Group(1, "g"), scalars);
        FILE* file = fmemopen(&text[0], text.size(), "rb");
        const bool ok = file && model.DS_LoadStream(file, "shapes.xml");
        if (file)
            fclose(file);
        return ok && model.Scalars().size() == sizeof kShapes / sizeof kShapes[0];
    }();
    if (!loaded)
        abort();
    return &model;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    uint8_t record[kSettingsRecordRegisters * 2] = {0, 1}, buffer[kSettingsRecordRegisters * 2];
    const size_t taken = size < sizeof record - 2 ? size : sizeof record - 2;
    memcpy(record + 2, data, taken);
    for (TiXmlElement* e : Model()->Scalars()) {
        DS_DevAnsw2XML_th(e, (int32_t)((taken + 3) / 2), record);
        memset(buffer, 0, sizeof buffer);
        DS_XML2DevData(e, kSettingsRecordRegisters, buffer, nullptr);
        DS_ValuesRemove(e);
    }
    return 0;
}
