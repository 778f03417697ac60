// Discovery client for the network-namespace test: broadcasts the identity read through the
// real UDP broadcast channel (every broadcast interface, port 502) and prints each answer;
// with --list it prints the interface list instead.
// It refuses to send unless every broadcast interface lies in the test network 10.77.0.0/16,
// so it can never broadcast on a real network.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "channels/TalkChannel_UDPBroadcast.h"
#include "modbus/Modbus.h"
#include "tests/channels/RecordingOwner.h"

namespace {
const uint32_t kTestNet = 0x0A4D0000;   // 10.77.0.0
const uint32_t kTestMask = 0xFFFF0000;
const int kMaxAnswers = 16;

bool OnlyTestInterfaces()
{
    int count = 0;
    ifi_entry* list = get_ifi_info(&count);
    bool ok = true;
    for (int i = 0; i < count; i++)
        if ((list[i].flags & kIfiBroadcast) && (ntohl(list[i].address) & kTestMask) != kTestNet) ok = false;
    free(list);
    return ok;
}
} // namespace

// Prints the interface list as get_ifi_info gives it.
int ListInterfaces()
{
    int count = 0;
    ifi_entry* list = get_ifi_info(&count);
    for (int i = 0; i < count; i++) {
        char a[20], m[20], b[20];
        printf("ifi %s %s %s%s\n", IPv4ToText(list[i].address, a, sizeof a), IPv4ToText(list[i].netmask, m, sizeof m),
               IPv4ToText(list[i].broadcast, b, sizeof b), (list[i].flags & kIfiBroadcast) ? " broadcast" : "");
    }
    free(list);
    printf("interfaces %d\n", count);
    return 0;
}

int main(int argc, char** argv)
{
    if (argc > 1 && strcmp(argv[1], "--list") == 0) return ListInterfaces();
    const int timeoutMs = argc > 1 ? atoi(argv[1]) : 1000;
    if (!OnlyTestInterfaces()) {
        fprintf(stderr, "discovery probe: a broadcast interface outside 10.77.0.0/16, not sending\n");
        return 2;
    }
    RecordingOwner owner;
    TalkChannel_UDPBroadcast channel("", &owner, timeoutMs);
    if (!channel.Open()) return 1;
    DevAddress device;
    MODBUS_TalkInfo info;
    info.channel = &channel;
    info.device = &device;
    info.attempts = 1;
    info.quiet = true;
    int answers = 0;
    for (int i = 0; i < kMaxAnswers; i++) {
        channel.ClearDatagramHeld();
        uint8_t record[16];
        if (!ModbusReadFileRecord(info, kFnReadFileRecord, 1, 0, 8, record).Ok()) break;
        char sender[20];
        IPv4ToText(channel.SenderAddress(), sender, sizeof sender);
        printf("unit %s mac %02X:%02X:%02X:%02X:%02X:%02X ip %u.%u.%u.%u\n", sender, record[2], record[3],
               record[4], record[5], record[6], record[7], record[12], record[13], record[14], record[15]);
        answers++;
    }
    channel.Close();
    for (const LoggedLine& l : owner.Lines()) printf("log %d|%s\n", l.style, l.text.c_str());
    printf("answers %d\n", answers);
    return 0;
}
