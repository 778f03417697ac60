// Command line of pelta-sim: the unit's identity and start-up state, where it listens, and the
// faults it injects. Every option is one row of a table that also prints the usage text.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/Faults.h"
#include "sim/Unit.h"

const int kDefaultModbusPort = 502;
// --udp-port same: the discovery port takes the TCP port's number (also when that was chosen
// by the system), so that a tool on loopback reaches both with one port.
const int kUdpPortSameAsTcp = -1;
const uint32_t kDefaultRebootDelayMs = 1000;
const uint32_t kMaxDelayMs = 600000;

struct SimConfig {
    uint32_t listenIp = 0;             // host order; 0 = every interface
    int tcpPort = kDefaultModbusPort;
    int udpPort = kDefaultModbusPort;
    uint8_t version[4] = {1, 0, 0, 1};
    UnitIdentity identity = {{0x02, 0x50, 0x45, 0x4C, 0x54, 0x41}, 0, false, {}};
    uint16_t password = kDefaultPassword;
    std::string stateDir;
    std::string descriptionPath;       // settings description whose "r" positions reads follow
    std::string settingsValuesPath;    // settings file whose values the unit starts with
    uint32_t rebootDelayMs = kDefaultRebootDelayMs;
    bool verbose = false;
    FaultConfig faults;

    SimConfig();   // sets the default identifier
};

enum class ParseResult { kRun, kHelp, kError };

// Later options override earlier ones. On kError, *error is a one-line reason.
ParseResult ParseOptions(int argc, char** argv, SimConfig* config, std::string* error);
void PrintUsage(FILE* out);
