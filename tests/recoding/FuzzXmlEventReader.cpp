// libFuzzer entry for the event reader: any bytes, any code page pair, every handler set, and
// a base64 target armed by each start tag. Handlers read every byte they get so that an
// over-read or a missing terminator shows up under the address sanitizer.
#include "recoding/XmlEventReader.h"

#include <cstdint>
#include <cstring>

namespace {

volatile uint32_t g_sink;

int Touch(const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        g_sink = g_sink + (uint8_t)text[i];
    return 0;
}

int TouchAll(const char* name, const XmlAttribute* a)
{
    Touch(name, strlen(name));
    for (; a && a->name; ++a)
        Touch(a->name, strlen(a->name)), Touch(a->value ? a->value : "", a->value ? strlen(a->value) : 0);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks the code pages, the options and whether the empty handler is set.
    uint8_t control = data[0];
    XmlEventReader reader;
    reader.SetCodepages(control % 6, (control / 6) % 6, (control & 0x40) != 0);
    reader.SetOptions(control >> 7);
    uint8_t base64[16];
    uint32_t count = 0;
    reader.SetElementStartHandler([&](XmlEventReader& r, const char* name, const XmlAttribute* a) {
        r.SetBase64Target(base64, sizeof base64, &count);
        return TouchAll(name, a);
    });
    if (control & 0x20)
        reader.SetEmptyElementHandler(
            [](XmlEventReader&, const char* name, const XmlAttribute* a) { return TouchAll(name, a); });
    auto text = [](XmlEventReader&, const char* t) { return Touch(t, strlen(t)); };
    auto block = [](XmlEventReader&, const char* t, uint32_t n) { return Touch(t, n + 1); };
    reader.SetElementEndHandler(text);
    reader.SetTextHandler(text);
    reader.SetRawTextHandler(text);
    reader.SetDoctypeHandler(text);
    reader.SetCommentHandler(block);
    reader.SetCDataHandler(block);
    reader.ParseText((const char*)data + 1, (int32_t)(size - 1));
    Touch((const char*)base64, count <= sizeof base64 ? count : 0);
    return 0;
}
