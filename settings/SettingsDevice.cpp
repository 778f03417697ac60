// The model's side of reading and writing the unit: which settings a group or a whole
// operation walks. The walks themselves live in SettingsTalk.
#include "settings/DeviceSettings.h"
#include "settings/SettingsTalk.h"

bool DeviceSettings::DS_ReadFromDev_th(OperationRunner& runner, const MODBUS_TalkInfo& talk, bool all,
                                       DS_SettingChangedI* changed)
{
    // A copy: the walk must not see the list change under it.
    std::vector<TiXmlElement*> settings = all ? Scalars() : shown_;
    return ::DS_ReadFromDev_th(runner, talk, settings, changed);
}

bool DeviceSettings::DS_WriteToDev_th(OperationRunner& runner, const MODBUS_TalkInfo& talk, bool all)
{
    std::vector<TiXmlElement*> settings = all ? Scalars() : shown_;
    return ::DS_WriteToDev_th(runner, talk, settings);
}
