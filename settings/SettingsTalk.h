// Reading settings from the unit and writing them to it, one file record per request, on the
// operation runner's worker thread: its log, progress and abort poll. The caller chooses the
// settings to walk (the shown group's, or every "scalar" of the document, in order).
#pragma once
#include <tinyxml.h>

#include <vector>

#include "modbus/Modbus.h"
#include "settings/SettingsModel.h"

class OperationRunner;

// Told after a read changed a setting's values, so that a window can refresh the setting's
// widgets if it shows them (worker thread: the implementation takes its display lock).
class DS_SettingChangedI {
public:
    virtual ~DS_SettingChangedI() = default;
    virtual void SettingChanged(TiXmlElement* element) = 0;
};

// Reads settings in runs of consecutive settings that share a read file and record, one
// request per run; stops at the first run that fails. changed may be null.
bool DS_ReadFromDev_th(OperationRunner& runner, const MODBUS_TalkInfo& talk,
                       const std::vector<TiXmlElement*>& settings, DS_SettingChangedI* changed);
// One run: a request of as many registers as the run reaches, then every setting decoded (or
// left without values when the request failed).
bool DS_ReadRecord_th(OperationRunner& runner, const MODBUS_TalkInfo& talk,
                      Quill::List<TiXmlElement>& run, DS_SettingChangedI* changed);

// Writes settings in runs of consecutive settings that share a write file and record; each
// run must be its whole write record. Stops at the first run that fails.
bool DS_WriteToDev_th(OperationRunner& runner, const MODBUS_TalkInfo& talk,
                      const std::vector<TiXmlElement*>& settings);
// One run: register 0 carries the password (bit 15 set when the record goes without values),
// the settings' values follow at their write offsets.
bool DS_WriteRecord_th(OperationRunner& runner, const MODBUS_TalkInfo& talk,
                       Quill::List<TiXmlElement>& run);
