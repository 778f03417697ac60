// settings-diff: which settings the unit holds otherwise than the file, and how they are shown.
#include <vector>

#include "base/Messages.h"
#include "cli/SettingsCommand.h"
#include "settings/SettingsCodec.h"
#include "settings/SettingsXml.h"

namespace {
const char kSgrBold[] = "\033[1m";
const char kSgrDiffers[] = "\033[1;31m";
const char kSgrSame[] = "\033[1;32m";
const char kSgrReset[] = "\033[0m";

// One setting's values as the unit would hold them after a write; false when they cannot be
// encoded (the texts are compared then).
bool Encoded(TiXmlElement* element, std::vector<uint8_t>* bytes)
{
    bytes->assign(kSettingsRecordRegisters * 2, 0);
    return DS_XML2DevData(element, kSettingsRecordRegisters, bytes->data(), nullptr);
}

// Whether the unit's copy of a setting holds what the file says: both without values, or
// the same value texts, or texts that reach the unit as the same bytes ("0x10" and "16").
bool SameValues(TiXmlElement* unit, TiXmlElement* file)
{
    const bool unitHas = DS_Values(unit) != nullptr;
    const bool fileHas = DS_Values(file) != nullptr;
    if (unitHas != fileHas)
        return false;
    if (!unitHas)
        return true;
    std::vector<SString> a = DS_ValueTexts(unit);
    std::vector<SString> b = DS_ValueTexts(file);
    if (a.size() == b.size()) {
        bool equal = true;
        for (size_t i = 0; equal && i < a.size(); ++i)
            equal = a[i] == b[i];
        if (equal)
            return true;
    }
    std::vector<uint8_t> unitBytes, fileBytes;
    return Encoded(unit, &unitBytes) && Encoded(file, &fileBytes) && unitBytes == fileBytes;
}

// "'v1', 'v2'", or the not-available text.
SString ValuesText(const TiXmlElement* element)
{
    if (!DS_Values(element))
        return Tr("not available");
    SString text;
    bool first = true;
    for (const SString& value : DS_ValueTexts(element)) {
        if (!first)
            text.Append(", ");
        text.Append("'");
        text.Append(value);
        text.Append("'");
        first = false;
    }
    return text;
}
}  // namespace

int SettingsCommand::DiffPrint()
{
    const bool terminal = outTerminal_;
    std::vector<TiXmlElement*> unit = request_.groupGiven ? settings_->Shown() : settings_->Scalars();
    std::vector<TiXmlElement*> file = request_.groupGiven ? file_->Shown() : file_->Scalars();
    // Both documents come from the same file, so their settings pair up in order.
    int compared = 0, differing = 0;
    for (size_t i = 0; i < unit.size() && i < file.size(); ++i) {
        if (!SignalInfo(unit[i]))
            continue;
        ++compared;
        if (SameValues(unit[i], file[i]))
            continue;
        ++differing;
        fprintf(out_, "%s%s%s\n", terminal ? kSgrBold : "", DS_Description(file[i]), terminal ? kSgrReset : "");
        fprintf(out_, "  %s\n", TrArgs("unit: ^0", ValuesText(unit[i]).Text()).Text());
        fprintf(out_, "  %s\n", TrArgs("file: ^0", ValuesText(file[i]).Text()).Text());
    }
    SString summary = TrArgs("Settings compared: ^0, differing: ^1", DecimalText(compared).c_str(),
                             DecimalText(differing).c_str());
    if (terminal)
        fprintf(out_, "%s%s%s\n", differing ? kSgrDiffers : kSgrSame, summary.Text(), kSgrReset);
    else
        fprintf(out_, "%s\n", summary.Text());
    return differing ? kExitDiffers : kExitOk;
}
