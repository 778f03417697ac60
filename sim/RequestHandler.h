// Decodes one complete Modbus TCP request frame, runs it against the unit and builds the answer
// frame, applying the configured faults. Shared by the TCP connections and the UDP responder.
#pragma once
#include <cstddef>
#include <cstdint>

#include "sim/Faults.h"
#include "sim/MbapFrame.h"
#include "sim/Unit.h"

class StateStore;

const size_t kTamrinFrameSize = 6;
const uint8_t kTamrinPrefix = 0x55;

// Per-connection facts and memory of a request.
struct RequestContext {
    uint32_t localIp = 0;          // host order, the address the request arrived at
    const char* peer = "";         // for log lines
    bool tamrinPending = false;    // function 67 was sent on this connection
    uint8_t tamrin[kTamrinFrameSize] = {};
};

struct RequestOutcome {
    size_t answerSize = 0;         // 0: no answer at all
    FaultPlan plan;                // delay and close are for the transport to carry out
    bool reboot = false;           // the answer must go out before the unit reboots
};

class RequestHandler {
public:
    RequestHandler(Unit& unit, Faults& faults, StateStore* store, bool verbose);
    // frame: one complete frame as ScanFrame found it; answer: room for kMaxAduSize bytes.
    RequestOutcome Handle(const uint8_t* frame, size_t size, uint8_t* answer, RequestContext& context);

private:
    // Each takes the PDU data after the function code and writes the answer data after the
    // function code; returns 0 or an exception code.
    using Function = uint8_t (RequestHandler::*)(const uint8_t* data, size_t size, uint8_t* out,
                                                 size_t* outSize, RequestContext& context);
    struct FunctionEntry {
        uint8_t code;
        Function run;
    };
    static const FunctionEntry kFunctions[];

    uint8_t ReadRegisters(const uint8_t*, size_t, uint8_t*, size_t*, RequestContext&);
    uint8_t ReadFileRecord(const uint8_t*, size_t, uint8_t*, size_t*, RequestContext&);
    uint8_t WriteFileRecord(const uint8_t*, size_t, uint8_t*, size_t*, RequestContext&);
    uint8_t WriteKeyed(const uint8_t*, size_t, uint8_t*, size_t*, RequestContext&);
    uint8_t GatewaySend(const uint8_t*, size_t, uint8_t*, size_t*, RequestContext&);
    uint8_t GatewayRead(const uint8_t*, size_t, uint8_t*, size_t*, RequestContext&);

    void Persist(const UnitChange& change);
    void Detail(const char* format, ...);

    Unit& unit_;
    Faults& faults_;
    StateStore* store_;
    bool verbose_;
    UnitChange change_;            // valid while one request runs, under the unit's lock
    char detail_[160];
    size_t detailLength_ = 0;
};
