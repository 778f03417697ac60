#include "sim/Faults.h"

#include "sim/ByteOrder.h"
#include "sim/MbapFrame.h"

namespace {
const uint8_t kWriteFileRecord = 21;
const size_t kFunctionAt = kMbapHeaderSize;
}  // namespace

Faults::Faults(const FaultConfig& config) : config_(config) {
    anyCounted_ = config.wrongTransaction || config.wrongProtocol || config.wrongUnit || config.wrongFunction ||
                  config.exceptionCount || config.delayCount || config.silence || config.closeCount ||
                  config.wrongEcho;
}

bool Faults::Take(uint32_t* counter) {
    if (*counter == 0) return false;
    if (*counter != kEveryAnswer) --*counter;
    return true;
}

FaultPlan Faults::Next(uint8_t function) {
    FaultPlan plan;
    if (!anyCounted_) return plan;   // the common case costs no lock
    std::lock_guard<std::mutex> lock(mutex_);
    if (answers_++ < config_.after) return plan;
    // Silence and exceptions replace the answer: nothing else is spent on it.
    if (Take(&config_.silence)) {
        plan.silent = true;
        return plan;
    }
    if (function == config_.exceptionFunction && Take(&config_.exceptionCount)) {
        plan.exception = true;
        plan.exceptionCode = config_.exceptionCode;
    }
    plan.wrongTransaction = Take(&config_.wrongTransaction);
    plan.wrongProtocol = Take(&config_.wrongProtocol);
    plan.wrongUnit = Take(&config_.wrongUnit);
    plan.wrongFunction = Take(&config_.wrongFunction);
    if (Take(&config_.delayCount)) plan.delayMs = config_.delayMs;
    if (Take(&config_.closeCount)) {
        plan.close = true;
        plan.closeAfterBytes = config_.closeAfterBytes;
    }
    if (function == kWriteFileRecord && !plan.exception) plan.wrongEcho = Take(&config_.wrongEcho);
    return plan;
}

int Faults::ResultFor(long position) const {
    for (const ResultFault& f : config_.results)
        if ((long)f.position == position) return f.code;
    return -1;
}

size_t ApplyFaultPlan(const FaultPlan& plan, uint8_t* frame, size_t size) {
    if (plan.exception) {
        frame[kFunctionAt] |= kExceptionBit;
        frame[kFunctionAt + 1] = plan.exceptionCode;
        size = kMbapHeaderSize + 2;
        PutBe16(frame + 4, 3);
    }
    if (plan.wrongTransaction) PutBe16(frame, (uint16_t)(GetBe16(frame) + 1));
    if (plan.wrongProtocol) PutBe16(frame + 2, (uint16_t)(GetBe16(frame + 2) + 1));
    if (plan.wrongUnit) frame[6] = (uint8_t)(frame[6] + 1);
    // A different function code that still is no exception answer.
    if (plan.wrongFunction) frame[kFunctionAt] = (uint8_t)((frame[kFunctionAt] + 1) & ~kExceptionBit);
    if (plan.wrongEcho && size > kFunctionAt + 1) frame[size - 1] ^= 0xFF;
    return size;
}
