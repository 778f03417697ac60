// Device discovery: phase one broadcasts the identity read and lists every unit that answers;
// phase two connects to each listed unit in turn and reads its identifier and version.
#include "operations/Discovery.h"

#include <glib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "base/LogTypes.h"
#include "base/Messages.h"
#include "operations/OperationRunner.h"

const char kIdentifierCodepage[] = "WINDOWS-1251";

namespace {
const char kMsgFindBegin[] = "Find devices begin";
const char kMsgDeviceSearch[] = "Device search";
const char kMsgDeviceFound[] = "Device founded on address ^0";
const char kMsgWrongReturnCode[] = "Wrong file record return code";
const char kMsgExtraInfo[] = "Get extra information";
const char kMsgDuplicate[] = "Received some responses with one IP address";
const char kMsgGetId[] = "Get ID";
const char kMsgGetVersion[] = "Get version";
const char kQuietEllipsis[] = "...";
const char kWhere[] = "GUIApp::DFIND_FindDevices_th";

const int kPhaseCount = 2;
const uint16_t kVersionRegisters = 2;
// Phase one ends after this many datagrams even if a peer never stops sending.
const int kMaxAnswerCycles = 65536;
// "255.255.255.255" and its terminator.
const size_t kAddressTextSize = 16;

uint16_t GetU16(const uint8_t* p)
{
    return (uint16_t)(p[0] << 8 | p[1]);
}

// The broadcast channel aimed as the options say: every interface's broadcast address, or
// one address alone; the standard port or another.
class DiscoveryChannel : public TalkChannel_UDPBroadcast {
public:
    DiscoveryChannel(TalkChannelExtI* owner, const DiscoveryOptions& options)
        : TalkChannel_UDPBroadcast("", owner, options.receiveTimeoutMs), directed_(options.directedAddress)
    {
        destinationPort_ = options.port;
    }

protected:
    ifi_entry* Interfaces(int* count) override
    {
        if (directed_ == 0)
            return TalkChannel_UDPBroadcast::Interfaces(count);
        *count = 0;
        ifi_entry* one = static_cast<ifi_entry*>(malloc(sizeof(ifi_entry)));
        if (!one)
            return nullptr;
        // A host mask makes the address its own broadcast address.
        *one = MakeIfiEntry(kIfiBroadcast, directed_, 0xFFFFFFFFu);
        *count = 1;
        return one;
    }

private:
    uint32_t directed_;
};
}  // namespace

SString DiscoveryMacText(const uint8_t* record)
{
    const uint8_t* m = record + kDiscoveryMacAt;
    char text[3 * kDiscoveryMacBytes];
    snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
    return SString(text);
}

SString DiscoveryIpText(const uint8_t* record)
{
    // First octet first on the wire, which is network order in memory.
    uint32_t address;
    memcpy(&address, record + kDiscoveryIpAt, sizeof address);
    char text[kAddressTextSize];
    return SString(IPv4ToText(address, text, sizeof text));
}

SString DiscoveryVersionText(const uint8_t* bytes)
{
    char text[kAddressTextSize];
    snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return SString(text);
}

SString DiscoveryIdentifierText(const uint8_t* bytes, int count)
{
    gchar* utf8 = g_convert(reinterpret_cast<const gchar*>(bytes), count, "UTF-8", kIdentifierCodepage,
                            nullptr, nullptr, nullptr);
    // The padding NULs end the text.
    SString text(utf8 ? utf8 : "");
    g_free(utf8);
    return text;
}

bool OperationRunner::FindDevicesBegin()
{
    if (IsBusy())
        return false;
    ThreadCreate(OperationKind::FindDevices, Tr(kMsgFindBegin));
    return true;
}

TalkChannel_UDPBroadcast* OperationRunner::DFIND_BroadcastOpen()
{
    ChannelLock();
    DiscoveryChannel* udp = new (std::nothrow) DiscoveryChannel(this, options_.discovery);
    channel_ = udp;
    bool opened = false;
    if (!udp)
        DiagNoMem(kWhere);
    else
        opened = udp->Open();
    ChannelUnlock();
    if (!udp)
        return nullptr;
    // Only this thread replaces or deletes the slot's channel, so udp stays valid here.
    udp->Connect(SString());
    if (!opened) {
        TalkPhChannelsClose();
        return nullptr;
    }
    return udp;
}

bool OperationRunner::DFIND_Collect(MODBUS_TalkInfo& talk, TalkChannel_UDPBroadcast& channel,
                                    Quill::List<DFIND_DevInfo>& units)
{
    bool duplicate = false;
    for (int cycle = 0; cycle < kMaxAnswerCycles; ++cycle) {
        channel.ClearDatagramHeld();
        uint8_t record[kDiscoveryRecordRegisters * 2];
        ModbusResult result = ModbusReadFileRecord(talk, kFnReadFileRecord, kDiscoveryFile, kDiscoveryRecord,
                                                   kDiscoveryRecordRegisters, record).result;
        if (result == kModbusOk) {
            char sender[kAddressTextSize];
            IPv4ToText(channel.SenderAddress(), sender, sizeof sender);
            LogLine(TrArgs(kMsgDeviceFound, sender), LogStyleResultOK);
            ModbusCheckValue(this, kMsgWrongReturnCode, kIdentityResultOk, GetU16(record), result);
            DFIND_DevInfo* unit = result == kModbusOk ? new (std::nothrow) DFIND_DevInfo : nullptr;
            if (unit) {
                unit->ipConnect.Assign(sender);
                unit->ip = DiscoveryIpText(record);
                unit->mac = DiscoveryMacText(record);
                for (int32_t i = 0; i < units.Count(); ++i)
                    if (units.GetAt(i)->ipConnect == unit->ipConnect)
                        duplicate = true;
                unit->row = units.Count();
                units.Add(unit);
                ui_->FoundUnitAdd(*unit);
            } else if (result == kModbusOk) {
                DiagNoMem(kWhere);
            }
        }
        if (!IsRunning() || result == kModbusTimeout)
            break;
        // End of stream without a datagram is the receive time-out; after part of one it is a
        // short answer, and the next may be a real unit's.
        if (result == kModbusEof && channel.SenderAddress() == 0)
            break;
    }
    return duplicate;
}

bool OperationRunner::DFIND_Details(MODBUS_TalkInfo& talk, DevAddress& address, DFIND_DevInfo& unit)
{
    // After a stop the remaining units are not asked at all.
    if (!IsRunning())
        return false;
    address.host = unit.ipConnect;
    SString target(address.host);
    if (options_.discovery.port != kModbusTcpPort) {
        char port[8];
        snprintf(port, sizeof port, ":%u", options_.discovery.port);
        target.Append(port);
    }

    TalkPhChannelsClose();
    ChannelLock();
    channel_ = SessionChannelMake();
    bool opened = false;
    if (!channel_)
        DiagNoMem(kWhere);
    else
        opened = channel_->Open();
    TalkChannel* channel = channel_;
    ChannelUnlock();
    if (!opened || !channel->Connect(target))
        return false;

    talk.channel = channel;
    if (IsTalkLog())
        LogLine(Tr(kMsgGetId), LogStylePlain);
    uint8_t idRecord[kIdentifierRecordRegisters * 2];
    if (!ModbusReadFileRecord(talk, kFnReadFileRecord, kDiscoveryFile, kIdentifierRecord,
                              kIdentifierRecordRegisters, idRecord).Ok())
        return false;
    if (GetU16(idRecord) == kIdentityResultOk)
        unit.id = DiscoveryIdentifierText(idRecord + kIdentifierTextAt, kIdentifierTextBytes);

    if (IsTalkLog())
        LogLine(Tr(kMsgGetVersion), LogStylePlain);
    uint8_t version[kVersionRegisters * 2];
    if (!ModbusReadRegisters(talk, kFnReadHoldingRegisters, kRegVersion, kVersionRegisters, version).Ok())
        return false;
    unit.version = DiscoveryVersionText(version);
    return true;
}

bool OperationRunner::DFIND_Identify(Quill::List<DFIND_DevInfo>& units, DevAddress& address,
                                     MODBUS_TalkInfo& talk)
{
    bool ok = true;
    for (int32_t i = 0; i < units.Count(); ++i) {
        DFIND_DevInfo& unit = *units.GetAt(i);
        if (!DFIND_Details(talk, address, unit))
            ok = false;
        TalkPhChannelsClose();
        talk.channel = nullptr;
        if (!unit.version.IsEmpty())
            ui_->FoundUnitUpdate(unit);
    }
    return ok;
}

bool OperationRunner::DFIND_FindDevices_th(MODBUS_TalkInfo& talk)
{
    ui_->FoundUnitsClear();
    LogLine(Tr(kMsgDeviceSearch), LogStylePlain);
    TalkPhChannelsClose();
    TalkChannel_UDPBroadcast* udp = DFIND_BroadcastOpen();
    if (!udp)
        return false;

    DevAddress address;
    talk.channel = udp;
    talk.device = &address;
    talk.frameMode = kModbusFrameTcp;
    talk.attempts = 1;
    talk.quiet = true;
    // The list owns the records; the front end keeps what it showed.
    Quill::List<DFIND_DevInfo> units;
    const bool duplicate = DFIND_Collect(talk, *udp, units);
    TalkPhChannelsClose();
    talk.channel = nullptr;
    ui_->ProgressSet(1, kPhaseCount, true);
    if (units.Count() == 0) {
        ui_->ProgressSet(1, 0, true);
        return true;
    }

    SString extra = Tr(kMsgExtraInfo);
    if (!IsTalkLog())
        extra.Append(kQuietEllipsis);
    LogLine(extra, LogStylePlain);
    if (duplicate) {
        LogLine(Tr(kMsgDuplicate), LogStyleError);
        return false;
    }

    talk.device = &address;
    talk.frameMode = kModbusFrameTcp;
    talk.attempts = kModbusSessionAttempts;
    talk.quiet = false;
    FlagsSet(RunFlags::Quiet, true);
    const bool ok = DFIND_Identify(units, address, talk);
    FlagsSet(RunFlags::Quiet, false);
    if (ok)
        ui_->ProgressSet(kPhaseCount, kPhaseCount, true);
    return ok;
}
