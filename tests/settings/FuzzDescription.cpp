// libFuzzer entry for the description loader: any bytes as a description file, then what a
// loaded description goes through at once (record parsing, the grouping check, showing every
// group, the device-write check of all settings).
#include "tests/settings/SettingsTestSupport.h"

namespace {
void ShowEveryGroup(DeviceSettings& model, const std::vector<DS_Group>& groups, std::vector<int>& path)
{
    for (size_t i = 0; i < groups.size(); ++i) {
        path.push_back((int)i);
        model.SelectGroupAt(path);
        model.CheckAll(false, false);
        ShowEveryGroup(model, groups[i].children, path);
        path.pop_back();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* file = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : nullptr;
    if (!file)
        return 0;
    RecordingSettingsUi ui;
    DeviceSettings model(&ui);
    const bool loaded = model.DS_LoadStream(file, "fuzz.xml");
    fclose(file);
    if (!loaded)
        return 0;
    std::vector<int> path;
    ShowEveryGroup(model, model.Groups(), path);
    model.CheckAll(true, true);
    for (TiXmlElement* e : model.Scalars())
        model.RecordSettings(e);
    return 0;
}
