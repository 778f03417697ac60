// libFuzzer entry for the settings decoder: any bytes as a record's registers, decoded into
// settings of every shape (number sizes, scale factors, byte mode, code-page text, formats,
// arrays, a setting reaching past the record), then encoded back from whatever text came out.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "settings/DeviceSettings.h"
#include "settings/SettingsCodec.h"
#include "settings/SettingsXml.h"

namespace {
class QuietUi : public SettingsUiI {
public:
    void MsgBox(const SString&) override {}
};

struct Shape {
    const char* type;
    int offset;
    int count;
    int byte;
    const char* extra;  // attributes
    const char* body;   // children
};

const Shape kShapes[] = {
    {"Integer", 1, 1, 0, "", ""},
    {"Integer", 2, 2, 0, "", "<units>0.1</units>"},
    {"Integer", 1, 4, 0, "", ""},
    {"Integer", 60, 4, 0, "", "<units>-2.5</units>"},
    {"IntArray", 1, 3, 0, "", "<indexes>a,b</indexes>"},
    {"IntArray", 5, 1, 2, "", "<indexes>0,1,2,3,4,5,6,7,8,9</indexes>"},
    {"Integer", 3, 2, 4, "", "<units>0.5</units>"},
    {"Float", 1, 2, 0, "", "<units>0.001</units>"},
    {"FloatArray", 10, 8, 0, "", "<indexes>a,b,c,d</indexes>"},
    {"String", 1, 8, 0, "", ""},
    {"StringArray", 20, 6, 0, "", "<indexes>a,b,c</indexes>"},
    {"String", 30, 2, 0, "format=\"u.u.u.u\"", ""},
    {"String", 32, 3, 0, "format=\"x:x:x:x:x:x\"", ""},
    {"String", 40, 2, 0, "format=\"X-u\xc2\xb0xu\"", ""},
    {"Integer", 63, 2, 0, "", ""},
};

std::string DescriptionText()
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><device><sygnals><groups>"
                       "<group gid=\"1\" tab=\"2\" title=\"g\"/></groups>";
    int rec = 0;
    for (const Shape& s : kShapes) {
        const std::string at = "{\"file\":21,\"rec\":" + std::to_string(rec++) + ",\"offset\":" +
                               std::to_string(s.offset) + ",\"count\":" + std::to_string(s.count) +
                               ",\"byte\":" + std::to_string(s.byte) + "}";
        text += std::string("<scalar gid=\"1\" type=\"") + s.type + "\" " + s.extra + " position='{\"r\":" + at +
                ",\"w\":" + at + "}'><access>readwrite</access><description>s</description>" + s.body +
                "</scalar>";
    }
    return text + "</sygnals></device>";
}

DeviceSettings* Model()
{
    static QuietUi ui;
    static DeviceSettings* model = nullptr;
    if (!model) {
        model = new DeviceSettings(&ui);
        std::string text = DescriptionText();
        FILE* file = fmemopen(&text[0], text.size(), "rb");
        if (!file || !model->DS_LoadStream(file, "shapes.xml") || model->Scalars().size() != sizeof kShapes / sizeof kShapes[0])
            abort();
        fclose(file);
    }
    return model;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    DeviceSettings* model = Model();
    uint8_t record[kSettingsRecordRegisters * 2] = {0, 1};
    const size_t taken = size < sizeof record - 2 ? size : sizeof record - 2;
    memcpy(record + 2, data, taken);
    const int32_t regCount = (int32_t)((taken + 2 + 1) / 2);
    uint8_t buffer[kSettingsRecordRegisters * 2];
    for (TiXmlElement* e : model->Scalars()) {
        DS_DevAnsw2XML_th(e, regCount, record);
        memset(buffer, 0, sizeof buffer);
        DS_XML2DevData(e, kSettingsRecordRegisters, buffer, nullptr);
        DS_ValuesRemove(e);
    }
    return 0;
}
