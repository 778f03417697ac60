#include "sim/SimOptions.h"

#include <arpa/inet.h>
#include <glib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sim/MbapFrame.h"

namespace {

// "Пелта1" in UTF-8; stored as WINDOWS-1251 like every identifier.
const char kDefaultIdentifier[] = "\xD0\x9F\xD0\xB5\xD0\xBB\xD1\x82\xD0\xB0" "1";
const size_t kMaxResultFaults = 16;
const uint32_t kMaxCount = 1000000000;

bool ParseNumber(const char* text, uint32_t max, uint32_t* out) {
    if (!text || !*text) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 0);
    if (errno || *end || text[0] == '-' || v > max) return false;
    *out = (uint32_t)v;
    return true;
}

bool ParseCount(const char* text, uint32_t* out) {
    if (strcmp(text, "all") == 0) {
        *out = kEveryAnswer;
        return true;
    }
    return ParseNumber(text, kMaxCount, out) && *out > 0;
}

std::vector<std::string> SplitColons(const char* text) {
    std::vector<std::string> fields;
    std::string rest = text;
    for (size_t colon; (colon = rest.find(':')) != std::string::npos; rest = rest.substr(colon + 1))
        fields.push_back(rest.substr(0, colon));
    fields.push_back(rest);
    return fields;
}

bool ParseIpv4(const char* text, uint32_t* out) {
    in_addr a;
    if (inet_pton(AF_INET, text, &a) != 1) return false;
    *out = ntohl(a.s_addr);
    return true;
}

using Apply = bool (*)(SimConfig&, const char* value);

bool SetListen(SimConfig& c, const char* v) { return ParseIpv4(v, &c.listenIp); }
bool SetPort(SimConfig& c, const char* v) {
    uint32_t p;
    return ParseNumber(v, 65535, &p) && (c.tcpPort = (int)p, true);
}
bool SetUdpPort(SimConfig& c, const char* v) {
    if (strcmp(v, "same") == 0) return c.udpPort = kUdpPortSameAsTcp, true;
    uint32_t p;
    return ParseNumber(v, 65535, &p) && (c.udpPort = (int)p, true);
}
bool SetVersion(SimConfig& c, const char* v) {
    unsigned a, b, d, e;
    char tail;
    if (sscanf(v, "%u.%u.%u.%u%c", &a, &b, &d, &e, &tail) != 4 || a > 255 || b > 255 || d > 255 || e > 255)
        return false;
    uint8_t version[4] = {(uint8_t)a, (uint8_t)b, (uint8_t)d, (uint8_t)e};
    memcpy(c.version, version, sizeof version);
    return true;
}
bool SetMac(SimConfig& c, const char* v) {
    unsigned m[6];
    char tail;
    if (sscanf(v, "%x:%x:%x:%x:%x:%x%c", &m[0], &m[1], &m[2], &m[3], &m[4], &m[5], &tail) != 6) return false;
    for (int i = 0; i < 6; ++i) {
        if (m[i] > 255) return false;
        c.identity.mac[i] = (uint8_t)m[i];
    }
    return true;
}
bool SetIp(SimConfig& c, const char* v) {
    return ParseIpv4(v, &c.identity.configuredIp) && (c.identity.configuredIpSet = true);
}
bool SetIdentifier(SimConfig& c, const char* v) {
    gsize written = 0;
    gchar* cp1251 = g_convert(v, -1, "WINDOWS-1251", "UTF-8", nullptr, &written, nullptr);
    bool ok = cp1251 && written <= kIdentifierBytes;
    if (ok) {
        memset(c.identity.identifier, 0, kIdentifierBytes);
        memcpy(c.identity.identifier, cp1251, written);
    }
    g_free(cp1251);
    return ok;
}
bool SetPassword(SimConfig& c, const char* v) {
    uint32_t p;
    return ParseNumber(v, kMaxPassword, &p) && (c.password = (uint16_t)p, true);
}
bool SetStateDir(SimConfig& c, const char* v) { return *v && (c.stateDir = v, true); }
bool SetDescription(SimConfig& c, const char* v) { return *v && (c.descriptionPath = v, true); }
bool SetSettingsValues(SimConfig& c, const char* v) { return *v && (c.settingsValuesPath = v, true); }
bool SetRebootDelay(SimConfig& c, const char* v) { return ParseNumber(v, kMaxDelayMs, &c.rebootDelayMs); }
bool SetVerbose(SimConfig& c, const char*) { return c.verbose = true; }

bool SetAfter(SimConfig& c, const char* v) { return ParseNumber(v, kMaxCount, &c.faults.after); }
bool SetWrongTransaction(SimConfig& c, const char* v) { return ParseCount(v, &c.faults.wrongTransaction); }
bool SetWrongProtocol(SimConfig& c, const char* v) { return ParseCount(v, &c.faults.wrongProtocol); }
bool SetWrongUnit(SimConfig& c, const char* v) { return ParseCount(v, &c.faults.wrongUnit); }
bool SetWrongFunction(SimConfig& c, const char* v) { return ParseCount(v, &c.faults.wrongFunction); }
bool SetWrongEcho(SimConfig& c, const char* v) { return ParseCount(v, &c.faults.wrongEcho); }
bool SetSilence(SimConfig& c, const char* v) { return ParseCount(v, &c.faults.silence); }
bool SetException(SimConfig& c, const char* v) {
    std::vector<std::string> f = SplitColons(v);
    size_t n = f.size();
    uint32_t function, code, count = kEveryAnswer;
    if (n < 2 || n > 3 || !ParseNumber(f[0].c_str(), 127, &function) || !ParseNumber(f[1].c_str(), 255, &code) ||
        (n == 3 && !ParseCount(f[2].c_str(), &count)))
        return false;
    c.faults.exceptionFunction = (int)function;
    c.faults.exceptionCode = (uint8_t)code;
    c.faults.exceptionCount = count;
    return true;
}
bool SetDelay(SimConfig& c, const char* v) {
    std::vector<std::string> f = SplitColons(v);
    size_t n = f.size();
    uint32_t count = kEveryAnswer;
    if (n < 1 || n > 2 || !ParseNumber(f[0].c_str(), kMaxDelayMs, &c.faults.delayMs) ||
        (n == 2 && !ParseCount(f[1].c_str(), &count)))
        return false;
    c.faults.delayCount = count;
    return true;
}
bool SetClose(SimConfig& c, const char* v) {
    std::vector<std::string> f = SplitColons(v);
    size_t n = f.size();
    uint32_t count = 1;
    if (n < 1 || n > 2 || !ParseNumber(f[0].c_str(), kMaxAduSize, &c.faults.closeAfterBytes) ||
        (n == 2 && !ParseCount(f[1].c_str(), &count)))
        return false;
    c.faults.closeCount = count;
    return true;
}
bool AddResult(SimConfig& c, const char* v) {
    std::vector<std::string> f = SplitColons(v);
    uint32_t position, code;
    if (f.size() != 2 || !ParseNumber(f[0].c_str(), kMaxCodeRecords, &position) ||
        !ParseNumber(f[1].c_str(), 65535, &code) || c.faults.results.size() >= kMaxResultFaults)
        return false;
    c.faults.results.push_back(ResultFault{position, (uint16_t)code});
    return true;
}
bool SetTamrin(SimConfig& c, const char* v) {
    if (strcmp(v, "prefix") == 0) return c.faults.tamrin = TamrinFault::kPrefix, true;
    if (strcmp(v, "check") == 0) return c.faults.tamrin = TamrinFault::kCheck, true;
    return false;
}
bool SetDuplicateDiscovery(SimConfig& c, const char*) { return c.faults.duplicateDiscovery = true; }
bool SetDiscoveryGarbage(SimConfig& c, const char*) { return c.faults.discoveryGarbage = true; }
bool SetIdentifierResult(SimConfig& c, const char* v) {
    uint32_t code;
    return ParseNumber(v, 65535, &code) && (c.faults.identifierResult = (int)code, true);
}

struct OptionSpec {
    const char* name;
    const char* value;   // null: the option takes no value
    Apply apply;
    const char* help;
};

const OptionSpec kOptions[] = {
    {"--listen", "ADDR", SetListen, "IPv4 address to listen on (default 0.0.0.0)"},
    {"--port", "N", SetPort, "Modbus TCP port, 0 = any free one (default 502)"},
    {"--udp-port", "N|same", SetUdpPort, "discovery UDP port, 0 = any free one, same = the TCP port (default 502)"},
    {"--version", "A.B.C.D", SetVersion, "firmware version (default 1.0.0.1)"},
    {"--mac", "XX:XX:XX:XX:XX:XX", SetMac, "MAC address (default 02:50:45:4C:54:41)"},
    {"--ip", "ADDR", SetIp, "configured IP reported by discovery (default: the address asked)"},
    {"--id", "TEXT", SetIdentifier, "identifier, at most 6 WINDOWS-1251 bytes (default \"Пелта1\")"},
    {"--password", "N", SetPassword, "password 0..32767 (default 1)"},
    {"--state-dir", "DIR", SetStateDir, "keep version, password, images and settings in DIR"},
    {"--description", "FILE", SetDescription, "settings reads follow the \"r\" positions of this description"},
    {"--settings-values", "FILE", SetSettingsValues, "start with the values of this settings file in records not yet held"},
    {"--reboot-delay", "MS", SetRebootDelay, "time the unit stays away after a reboot (default 1000)"},
    {"--verbose", nullptr, SetVerbose, "log every request (also -v)"},
    {"--fault-after", "N", SetAfter, "counted faults start after N good answers (default 0)"},
    {"--fault-transaction", "N|all", SetWrongTransaction, "transaction identifier + 1 in the next N answers"},
    {"--fault-protocol", "N|all", SetWrongProtocol, "protocol identifier 1 in the next N answers"},
    {"--fault-unit", "N|all", SetWrongUnit, "unit identifier + 1 in the next N answers"},
    {"--fault-function", "N|all", SetWrongFunction, "function code + 1 in the next N answers"},
    {"--fault-exception", "FN:CODE[:N]", SetException, "exception CODE for function FN (default: every time)"},
    {"--fault-delay", "MS[:N]", SetDelay, "wait MS before answering (default: every answer)"},
    {"--fault-silence", "N|all", SetSilence, "leave the next N requests unanswered"},
    {"--fault-close", "K[:N]", SetClose, "send K bytes of the answer, then close (default: once)"},
    {"--fault-echo", "N|all", SetWrongEcho, "last byte of the next N write-file-record echoes inverted"},
    {"--fault-result", "K:CODE", AddResult, "result CODE on the read-back of image record K (0 = header)"},
    {"--fault-tamrin", "prefix|check", SetTamrin, "Tamrin answer with a wrong prefix or check byte"},
    {"--fault-discovery-duplicate", nullptr, SetDuplicateDiscovery, "send every discovery answer twice"},
    {"--fault-discovery-garbage", nullptr, SetDiscoveryGarbage, "malformed datagrams before every discovery answer"},
    {"--fault-id-result", "CODE", SetIdentifierResult, "result CODE in the identifier record"},
};

const OptionSpec* FindOption(const std::string& name) {
    std::string full = name == "-v" ? "--verbose" : name;
    for (const OptionSpec& o : kOptions)
        if (full == o.name) return &o;
    return nullptr;
}

}  // namespace

SimConfig::SimConfig() { SetIdentifier(*this, kDefaultIdentifier); }

ParseResult ParseOptions(int argc, char** argv, SimConfig* config, std::string* error) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i], value;
        if (arg == "-h" || arg == "--help") return ParseResult::kHelp;
        size_t eq = arg.find('=');
        bool inlineValue = arg.compare(0, 2, "--") == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
        }
        const OptionSpec* option = FindOption(arg);
        if (!option) {
            *error = "unknown option '" + arg + "'";
            return ParseResult::kError;
        }
        if (option->value && !inlineValue) {
            if (i + 1 >= argc) {
                *error = "option '" + arg + "' needs a value " + option->value;
                return ParseResult::kError;
            }
            value = argv[++i];
        } else if (!option->value && inlineValue) {
            *error = "option '" + arg + "' takes no value";
            return ParseResult::kError;
        }
        if (!option->apply(*config, value.c_str())) {
            *error = "bad value '" + value + "' for " + arg + " " + (option->value ? option->value : "");
            return ParseResult::kError;
        }
    }
    return ParseResult::kRun;
}

void PrintUsage(FILE* out) {
    fprintf(out, "usage: pelta-sim [options]\nA simulated Pelta unit: Modbus TCP server and discovery responder.\n\n");
    for (const OptionSpec& o : kOptions) {
        std::string left = std::string(o.name) + (o.value ? std::string(" ") + o.value : "");
        fprintf(out, "  %-34s %s\n", left.c_str(), o.help);
    }
}
