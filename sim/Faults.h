// Fault injection: misbehaviour switched on from the command line so that every failure the
// client must handle can be reproduced. Counted faults hit the next N answers once the first
// `after` answers have gone out untouched; the counters are shared by all connections.
#pragma once
#include <cstdint>
#include <mutex>
#include <vector>

const uint32_t kEveryAnswer = UINT32_MAX;

enum class TamrinFault { kNone, kPrefix, kCheck };

struct ResultFault {
    uint32_t position;   // image stream position: 0 the header, k the k-th code record
    uint16_t code;
};

struct FaultConfig {
    uint32_t after = 0;
    uint32_t wrongTransaction = 0;
    uint32_t wrongProtocol = 0;
    uint32_t wrongUnit = 0;
    uint32_t wrongFunction = 0;
    int exceptionFunction = -1;
    uint8_t exceptionCode = 0;
    uint32_t exceptionCount = 0;
    uint32_t delayMs = 0;
    uint32_t delayCount = 0;
    uint32_t silence = 0;
    uint32_t closeAfterBytes = 0;
    uint32_t closeCount = 0;
    uint32_t wrongEcho = 0;
    std::vector<ResultFault> results;
    TamrinFault tamrin = TamrinFault::kNone;
    bool duplicateDiscovery = false;
    bool discoveryGarbage = false;
    int identifierResult = -1;   // -1: the real result code
};

// What to do to one answer.
struct FaultPlan {
    bool wrongTransaction = false;
    bool wrongProtocol = false;
    bool wrongUnit = false;
    bool wrongFunction = false;
    bool exception = false;
    uint8_t exceptionCode = 0;
    uint32_t delayMs = 0;
    bool silent = false;
    bool close = false;
    uint32_t closeAfterBytes = 0;
    bool wrongEcho = false;
};

class Faults {
public:
    explicit Faults(const FaultConfig& config);
    // Consumes the counters for one answer to a request with this function code.
    FaultPlan Next(uint8_t function);
    // The result code to report instead of the real one for this image position, or -1.
    int ResultFor(long position) const;
    TamrinFault Tamrin() const { return config_.tamrin; }
    bool DuplicateDiscovery() const { return config_.duplicateDiscovery; }
    bool DiscoveryGarbage() const { return config_.discoveryGarbage; }
    int IdentifierResult() const { return config_.identifierResult; }

private:
    static bool Take(uint32_t* counter);

    FaultConfig config_;
    bool anyCounted_;
    std::mutex mutex_;
    uint64_t answers_ = 0;
};

// Applies the header and content parts of a plan to a finished answer frame (MBAP + PDU);
// returns the frame's new size.
size_t ApplyFaultPlan(const FaultPlan& plan, uint8_t* frame, size_t size);
