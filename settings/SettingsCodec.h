// One setting's values between the document's text and the unit's register bytes. Registers
// travel most significant byte first; a record's register 0 is its validity mark on reading
// and the password on writing, so no setting lives there.
#pragma once
#include <cstdint>

#include <tinyxml.h>

#include "settings/SettingsModel.h"

class OperationRunner;

// Decodes element's values out of one record's data (regCount registers as they came from
// the unit) into its "values" element, which it replaces. No data, a count of 0 or a record
// whose register 0 is not 1 leaves the setting without values (not available) and succeeds.
// False when the setting reaches past the data or memory runs out.
bool DS_DevAnsw2XML_th(TiXmlElement* element, int32_t regCount, const uint8_t* data);

// Encodes element's values into a record buffer of regCount registers at the setting's write
// position; bytes of other settings are kept. Faults ("No value", "Wrong value size") go to
// log's log in the Error style (log may be null: nothing is logged).
bool DS_XML2DevData(TiXmlElement* element, int32_t regCount, uint8_t* buffer, OperationRunner* log);
