// The short operations on a connected unit: version read, reboot, gateway test and the
// sending half of a password change.
#include <glib.h>

#include <cstdio>

#include "base/LogTypes.h"
#include "base/Messages.h"
#include "operations/OperationRunner.h"

namespace {
const uint16_t kVersionRegisters = 2;
const uint16_t kOneRegister = 1;
const uint16_t kRebootValue = 1;

// The request the gateway forwards to the Tamrin unit, and the shape of its answer.
const uint8_t kTamrinRequest[] = {0x03, 0x60, 0x63};
const uint16_t kTamrinAnswerBytes = 6;
const uint8_t kTamrinPrefix = 0x55;
const int kTamrinCheckByte = 5;
// The gateway needs a moment to hear back from the Tamrin unit.
const unsigned kTamrinWaitMs = 50;

// One register value as the unit expects it: high byte first.
void RegisterPut(uint8_t out[2], uint16_t value)
{
    out[0] = (uint8_t)(value >> 8);
    out[1] = (uint8_t)(value & 0xFF);
}

uint8_t TamrinCheckByte(const uint8_t* answer)
{
    unsigned sum = 0;
    for (int i = 0; i < kTamrinCheckByte; ++i)
        sum += answer[i];
    return (uint8_t)(sum & 0xFF);
}
}  // namespace

bool OperationRunner::VersionRead_th(const MODBUS_TalkInfo& talk)
{
    DeviceTalkNote();
    uint8_t version[kVersionRegisters * 2];
    if (!ModbusReadRegisters(talk, kFnReadHoldingRegisters, kRegVersion, kVersionRegisters, version).Ok())
        return false;
    char text[32];
    snprintf(text, sizeof text, "%u.%u.%u.%u", version[0], version[1], version[2], version[3]);
    ui_->VersionShow(SString(text));
    ui_->ProgressSet(1, 1, true);
    return true;
}

bool OperationRunner::Reboot_th(const MODBUS_TalkInfo& talk)
{
    DeviceTalkNote();
    uint8_t value[2];
    RegisterPut(value, kRebootValue);
    if (!ModbusWriteRegistersKeyed(talk, kFnWriteRegistersKeyed, kRegReboot, kOneRegister,
                                   DevicePasswordWire(), value).Ok())
        return false;
    ui_->ProgressSet(1, 1, true);
    return true;
}

bool OperationRunner::ChangePassword_th(const MODBUS_TalkInfo& talk)
{
    DeviceTalkNote();
    uint8_t value[2];
    RegisterPut(value, (uint16_t)newPassword_);
    if (!ModbusWriteRegistersKeyed(talk, kFnWriteRegistersKeyed, kRegPassword, kOneRegister,
                                   DevicePasswordWire(), value).Ok())
        return false;
    ui_->ProgressSet(1, 1, true);
    return true;
}

bool OperationRunner::TestGateway_th(const MODBUS_TalkInfo& talk)
{
    if (IsTalkLog())
        LogLine(Tr("Send data to Tamrin"), LogStylePlain);
    else
        DeviceTalkNote();
    if (!ModbusGatewaySend(talk, kTamrinRequest, sizeof kTamrinRequest).Ok())
        return false;
    ui_->ProgressSet(1, 2, true);

    if (IsTalkLog())
        LogLine(Tr("Receive data from Tamrin"), LogStylePlain);
    g_usleep(kTamrinWaitMs * 1000);
    uint8_t answer[kTamrinAnswerBytes];
    if (!ModbusGatewayRead(talk, answer, kTamrinAnswerBytes).Ok())
        return false;

    // The check byte is compared only when the prefix held.
    ModbusResult check = kModbusOk;
    ModbusCheckValue(this, "Wrong Tamrin prefix", kTamrinPrefix, answer[0], check);
    ModbusCheckValue(this, "Wrong Tamrin CRC", TamrinCheckByte(answer), answer[kTamrinCheckByte], check);
    if (check != kModbusOk)
        return false;
    ui_->ProgressSet(1, 1, true);
    return true;
}
