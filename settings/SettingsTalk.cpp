#include "settings/SettingsTalk.h"

#include <cstring>
#include <functional>

#include "base/LogTypes.h"
#include "base/Messages.h"
#include "operations/OperationRunner.h"
#include "settings/SettingsCodec.h"
#include "settings/SettingsXml.h"

namespace {
const char* kMsgOverflow = "Assert: Overflow regCount";
const char* kMsgNoSetting = "Assert: no device setting";
const char* kMsgUnionWrong = "Assert: settings union is wrong";
const char* kMsgAvailability = "Assert: availability is different";
const uint16_t kWithoutValuesBit = 0x8000;

using RecordBody = std::function<bool(Quill::List<TiXmlElement>&)>;

TiXmlElement* ElementOf(const Quill::ListNode* node)
{
    return static_cast<TiXmlElement*>(node->data);
}

TiXmlElement* LastOf(Quill::List<TiXmlElement>& list)
{
    return list.GetAt(list.Count() - 1);
}

// "Read 'A'" for one setting, "Read 'A' - 'B'" for a longer run (only with the talk log on).
void RunNote(OperationRunner& runner, Quill::List<TiXmlElement>& run, const char* one, const char* many)
{
    if (!runner.IsTalkLog())
        return;
    const char* first = DS_Description(run.GetAt(0));
    if (run.Count() == 1)
        runner.LogLine(TrArgs(one, first), LogStylePlain);
    else
        runner.LogLine(TrArgs(many, first, DS_Description(LastOf(run))), LogStylePlain);
}

// Runs of consecutive settings whose position (read or write) names the same file and record,
// compared as whole numbers; progress after each run. Settings without a record are skipped.
bool Walk(OperationRunner& runner, const std::vector<TiXmlElement*>& settings,
          DS_Position DS_SignalInfo::*position, const RecordBody& body)
{
    const int64_t total = (int64_t)settings.size();
    runner.DeviceTalkNote();
    Quill::List<TiXmlElement> run;
    int64_t file = 0;
    int64_t rec = 0;
    int64_t walked = 0;
    for (TiXmlElement* element : settings) {
        ++walked;
        const DS_SignalInfo* info = SignalInfo(element);
        if (!info)
            continue;
        const DS_Position& at = info->*position;
        if (at.file == file && at.rec == rec) {
            run.Add(element);
            continue;
        }
        if (run.Count() > 0) {
            if (!body(run))
                return false;
            runner.Ui()->ProgressSet(walked - 1, total, true);
        }
        run.Clear(false);
        run.Add(element);
        file = at.file;
        rec = at.rec;
    }
    if (run.Count() == 0)
        return true;
    if (!body(run))
        return false;
    runner.Ui()->ProgressSet(total, total, true);
    return true;
}

// The registers a run reaches at position, or -1 (logged) when that is more than a record holds.
int32_t RegisterCount(OperationRunner& runner, Quill::List<TiXmlElement>& run, DS_Position DS_SignalInfo::*position)
{
    int64_t count = 0;
    for (const Quill::ListNode* node = run.Head(); node; node = node->next) {
        const DS_SignalInfo* info = SignalInfo(ElementOf(node));
        if (!info)
            continue;
        const DS_Position& at = info->*position;
        if (at.offset + at.count > count)
            count = at.offset + at.count;
        if (count > kSettingsRecordRegisters) {
            runner.LogError(kMsgOverflow);
            return -1;
        }
    }
    return (int32_t)count;
}

bool RunIsRecord(Quill::List<TiXmlElement>& run, const FileRecordEntry* entry)
{
    if (!entry || entry->settings.Count() != run.Count())
        return false;
    const Quill::ListNode* mine = run.Head();
    for (const Quill::ListNode* theirs = entry->settings.Head(); theirs; theirs = theirs->next, mine = mine->next) {
        if (theirs->data != mine->data)
            return false;
    }
    return true;
}
}  // namespace

bool DS_ReadFromDev_th(OperationRunner& runner, const MODBUS_TalkInfo& talk, const std::vector<TiXmlElement*>& settings,
                       DS_SettingChangedI* changed)
{
    return Walk(runner, settings, &DS_SignalInfo::r, [&](Quill::List<TiXmlElement>& run) {
        return DS_ReadRecord_th(runner, talk, run, changed);
    });
}

bool DS_ReadRecord_th(OperationRunner& runner, const MODBUS_TalkInfo& talk, Quill::List<TiXmlElement>& run,
                      DS_SettingChangedI* changed)
{
    if (run.Count() == 0)
        return true;
    const DS_SignalInfo* first = SignalInfo(run.GetAt(0));
    if (!first) {
        runner.LogError(kMsgNoSetting);
        return false;
    }
    const int32_t count = RegisterCount(runner, run, &DS_SignalInfo::r);
    uint8_t data[kSettingsRecordRegisters * 2];
    bool ok = false;
    if (count >= 0) {
        RunNote(runner, run, "Read '^0'", "Read '^0' - '^1'");
        ok = ModbusReadFileRecord(talk, kFnReadFileRecord, (uint16_t)first->r.file, (uint16_t)first->r.rec,
                                  (uint16_t)count, data)
                 .Ok();
    }
    const bool requestOk = ok;
    for (const Quill::ListNode* node = run.Head(); node; node = node->next) {
        if (!DS_DevAnsw2XML_th(ElementOf(node), requestOk ? count : 0, requestOk ? data : nullptr))
            ok = false;
        if (changed)
            changed->SettingChanged(ElementOf(node));
    }
    return ok;
}

bool DS_WriteToDev_th(OperationRunner& runner, const MODBUS_TalkInfo& talk,
                      const std::vector<TiXmlElement*>& settings)
{
    return Walk(runner, settings, &DS_SignalInfo::w,
                [&](Quill::List<TiXmlElement>& run) { return DS_WriteRecord_th(runner, talk, run); });
}

bool DS_WriteRecord_th(OperationRunner& runner, const MODBUS_TalkInfo& talk, Quill::List<TiXmlElement>& run)
{
    if (run.Count() == 0)
        return true;
    const DS_SignalInfo* first = SignalInfo(run.GetAt(0));
    if (!first) {
        runner.LogError(kMsgNoSetting);
        return false;
    }
    if (!RunIsRecord(run, first->entry)) {
        runner.LogError(kMsgUnionWrong);
        return false;
    }
    const bool available = DS_Values(run.GetAt(0)) != nullptr;
    int64_t count = 0;
    for (const Quill::ListNode* node = run.Head(); node; node = node->next) {
        const DS_Position& at = SignalInfo(ElementOf(node))->w;
        if (at.offset + at.count > count)
            count = at.offset + at.count;
        if (count > kSettingsRecordRegisters) {
            runner.LogError(kMsgOverflow);
            return false;
        }
        if ((DS_Values(ElementOf(node)) != nullptr) != available) {
            runner.LogError(kMsgAvailability);
            return false;
        }
    }
    uint8_t buffer[kSettingsRecordRegisters * 2];
    memset(buffer, 0, sizeof buffer);
    const uint16_t mark = (uint16_t)(runner.DevicePasswordWire() | (available ? 0 : kWithoutValuesBit));
    buffer[0] = (uint8_t)(mark >> 8);
    buffer[1] = (uint8_t)mark;
    RunNote(runner, run, "Write '^0'", "Write '^0' - '^1'");
    if (available) {
        for (const Quill::ListNode* node = run.Head(); node; node = node->next) {
            if (!DS_XML2DevData(ElementOf(node), (int32_t)count, buffer, &runner))
                return false;
        }
    }
    return ModbusWriteFileRecord(talk, kFnWriteFileRecord, (uint16_t)first->w.file, (uint16_t)first->w.rec,
                                 (uint16_t)count, buffer)
        .Ok();
}
