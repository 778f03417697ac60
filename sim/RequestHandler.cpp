#include "sim/RequestHandler.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "sim/ByteOrder.h"
#include "sim/SimLog.h"
#include "sim/StateStore.h"

namespace {
const uint8_t kFnReadRegisters = 3;
const uint8_t kFnReadFileRecord = 20;
const uint8_t kFnWriteFileRecord = 21;
const uint8_t kFnGatewayRead = 65;
const uint8_t kFnGatewaySend = 67;
const uint8_t kFnWriteKeyed = 100;
const uint8_t kReferenceType = 6;
const size_t kReadSubRequest = 7;    // reference type, file, record, length
const size_t kWriteSubHeader = 7;
const size_t kMaxAnswerData = kMaxPduSize - 1;
const uint16_t kGatewayAccepted = 0;
}  // namespace

const RequestHandler::FunctionEntry RequestHandler::kFunctions[] = {
    {kFnReadRegisters, &RequestHandler::ReadRegisters},
    {kFnReadFileRecord, &RequestHandler::ReadFileRecord},
    {kFnWriteFileRecord, &RequestHandler::WriteFileRecord},
    {kFnWriteKeyed, &RequestHandler::WriteKeyed},
    {kFnGatewaySend, &RequestHandler::GatewaySend},
    {kFnGatewayRead, &RequestHandler::GatewayRead},
};

RequestHandler::RequestHandler(Unit& unit, Faults& faults, StateStore* store, bool verbose)
    : unit_(unit), faults_(faults), store_(store), verbose_(verbose) {}

void RequestHandler::Detail(const char* format, ...) {
    if (!verbose_ || detailLength_ >= sizeof detail_) return;
    va_list args;
    va_start(args, format);
    int n = vsnprintf(detail_ + detailLength_, sizeof detail_ - detailLength_, format, args);
    va_end(args);
    if (n > 0) detailLength_ += (size_t)n;
}

RequestOutcome RequestHandler::Handle(const uint8_t* frame, size_t size, uint8_t* answer,
                                      RequestContext& context) {
    RequestOutcome outcome;
    MbapHeader header = ReadMbap(frame);
    uint8_t function = frame[kMbapHeaderSize];
    const uint8_t* data = frame + kMbapHeaderSize + 1;
    size_t dataSize = size - kMbapHeaderSize - 1;
    detailLength_ = 0;
    detail_[0] = 0;

    outcome.plan = faults_.Next(function);
    if (outcome.plan.silent) {
        if (verbose_) SimLog("%s tid %u fn %u: no answer (silence fault)", context.peer, header.transaction, function);
        return outcome;
    }
    uint8_t* pdu = answer + kMbapHeaderSize;
    size_t answerData = 0;
    uint8_t exception = kExIllegalFunction;
    if (outcome.plan.exception) {
        exception = outcome.plan.exceptionCode;
    } else {
        for (const FunctionEntry& entry : kFunctions) {
            if (entry.code != function) continue;
            std::lock_guard<std::mutex> lock(unit_.Mutex());
            change_ = UnitChange();
            exception = (this->*entry.run)(data, dataSize, pdu + 1, &answerData, context);
            if (exception == 0) Persist(change_);
            outcome.reboot = change_.reboot;
            break;
        }
    }
    pdu[0] = function;
    size_t pduSize = 1 + answerData;
    if (exception) {
        pdu[0] = (uint8_t)(function | kExceptionBit);
        pdu[1] = exception;
        pduSize = 2;
        outcome.reboot = false;
    }
    WriteMbap(answer, header, pduSize);
    outcome.answerSize = ApplyFaultPlan(outcome.plan, answer, kMbapHeaderSize + pduSize);
    if (verbose_) {
        if (exception)
            SimLog("%s tid %u fn %u%s -> exception %u", context.peer, header.transaction, function, detail_, exception);
        else
            SimLog("%s tid %u fn %u%s -> ok", context.peer, header.transaction, function, detail_);
    }
    return outcome;
}

void RequestHandler::Persist(const UnitChange& change) {
    if (!store_) return;
    if (change.password || change.settings) store_->SaveUnit(unit_);
    if (change.imageCompleted) store_->SaveStaged(unit_);
}

uint8_t RequestHandler::ReadRegisters(const uint8_t* data, size_t size, uint8_t* out, size_t* outSize,
                                      RequestContext&) {
    if (size != 4) return kExIllegalDataValue;
    uint16_t start = GetBe16(data), count = GetBe16(data + 2);
    Detail(" start %u count %u", start, count);
    uint8_t exception = unit_.ReadRegisters(start, count, out + 1);
    if (exception) return exception;
    out[0] = (uint8_t)(count * 2);
    *outSize = 1 + (size_t)count * 2;
    return 0;
}

uint8_t RequestHandler::ReadFileRecord(const uint8_t* data, size_t size, uint8_t* out, size_t* outSize,
                                       RequestContext& context) {
    if (size < 1 || data[0] != size - 1 || data[0] < kReadSubRequest || data[0] % kReadSubRequest)
        return kExIllegalDataValue;
    size_t at = 1;   // out[0] is the response data length
    for (const uint8_t* sub = data + 1; sub < data + size; sub += kReadSubRequest) {
        uint16_t file = GetBe16(sub + 1), record = GetBe16(sub + 3), length = GetBe16(sub + 5);
        Detail(" file %u record %u len %u", file, record, length);
        if (sub[0] != kReferenceType) return kExIllegalDataAddress;
        if (at + 2 + (size_t)length * 2 > kMaxAnswerData) return kExIllegalDataValue;
        long position = -1;
        uint8_t exception = unit_.ReadRecord(file, record, length, context.localIp, out + at + 2, &position);
        if (exception) return exception;
        int forced = faults_.ResultFor(position);
        if (file == kIdentityFile && record == kIdentifierRecord) forced = faults_.IdentifierResult();
        if (forced >= 0) PutBe16(out + at + 2, (uint16_t)forced);
        out[at] = (uint8_t)(length * 2 + 1);
        out[at + 1] = kReferenceType;
        at += 2 + (size_t)length * 2;
    }
    out[0] = (uint8_t)(at - 1);
    *outSize = at;
    return 0;
}

uint8_t RequestHandler::WriteFileRecord(const uint8_t* data, size_t size, uint8_t* out, size_t* outSize,
                                        RequestContext&) {
    if (size < 1 + kWriteSubHeader + 2 || data[0] != size - 1) return kExIllegalDataValue;
    // Check the whole layout before anything is stored.
    for (size_t at = 1; at < size;) {
        if (size - at < kWriteSubHeader + 2) return kExIllegalDataValue;
        size_t length = GetBe16(data + at + 5);
        if (length == 0 || size - at - kWriteSubHeader < length * 2) return kExIllegalDataValue;
        if (data[at] != kReferenceType) return kExIllegalDataAddress;
        at += kWriteSubHeader + length * 2;
    }
    // A refusal of any record (a wrong password above all) leaves every record as it was.
    for (size_t at = 1; at < size;) {
        uint16_t length = GetBe16(data + at + 5);
        uint8_t refusal = unit_.WriteRecordRefusal(GetBe16(data + at + 1), GetBe16(data + at + 3), length,
                                                   data + at + kWriteSubHeader);
        if (refusal) return refusal;
        at += kWriteSubHeader + (size_t)length * 2;
    }
    for (size_t at = 1; at < size;) {
        uint16_t file = GetBe16(data + at + 1), record = GetBe16(data + at + 3), length = GetBe16(data + at + 5);
        Detail(" file %u record %u len %u", file, record, length);
        uint8_t exception = unit_.WriteRecord(file, record, length, data + at + kWriteSubHeader, &change_);
        if (exception) return exception;
        at += kWriteSubHeader + (size_t)length * 2;
    }
    memcpy(out, data, size);   // the answer echoes the request
    *outSize = size;
    return 0;
}

uint8_t RequestHandler::WriteKeyed(const uint8_t* data, size_t size, uint8_t* out, size_t* outSize,
                                   RequestContext&) {
    if (size < 7) return kExIllegalDataValue;
    uint16_t start = GetBe16(data), count = GetBe16(data + 2);
    uint8_t bytes = data[4];
    Detail(" register %u count %u", start, count);
    if (bytes != (size_t)count * 2 || size != 7u + bytes) return kExIllegalDataValue;
    uint8_t exception = unit_.WriteKeyed(start, count, GetBe16(data + 5), data + 7, &change_);
    if (exception) return exception;
    memcpy(out, data, 4);
    *outSize = 4;
    return 0;
}

uint8_t RequestHandler::GatewaySend(const uint8_t* data, size_t size, uint8_t* out, size_t* outSize,
                                    RequestContext& context) {
    if (size == 0) return kExIllegalDataValue;
    Detail(" %zu bytes", size);
    // The downstream unit answers with the first three bytes it got and their count.
    uint8_t* t = context.tamrin;
    t[0] = kTamrinPrefix;
    for (size_t i = 0; i < 3; ++i) t[1 + i] = i < size ? data[i] : 0;
    t[4] = (uint8_t)size;
    uint8_t sum = 0;
    for (size_t i = 0; i < kTamrinFrameSize - 1; ++i) sum = (uint8_t)(sum + t[i]);
    t[5] = sum;
    if (faults_.Tamrin() == TamrinFault::kPrefix) t[0] = kTamrinPrefix - 1;
    if (faults_.Tamrin() == TamrinFault::kCheck) t[5] = (uint8_t)(t[5] + 1);
    context.tamrinPending = true;
    PutBe16(out, kGatewayAccepted);
    *outSize = 2;
    return 0;
}

uint8_t RequestHandler::GatewayRead(const uint8_t*, size_t size, uint8_t* out, size_t* outSize,
                                    RequestContext& context) {
    if (size != 0) return kExIllegalDataValue;
    if (!context.tamrinPending) return kExGatewayTargetFailed;
    memcpy(out, context.tamrin, kTamrinFrameSize);
    *outSize = kTamrinFrameSize;
    return 0;
}
