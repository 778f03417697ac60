// Discovery client for the network-namespace test: reads the identity through the real UDP
// broadcast channel (every broadcast interface, port 502) and prints each answer and the log;
// with --list it prints the interface list instead. It sends nothing unless every broadcast
// interface lies in the test network 10.77.0.0/16, so it can never broadcast on a real network.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include "channels/TalkChannel_UDPBroadcast.h"
#include "modbus/Modbus.h"
#include "tests/support/RecordingOwner.h"

int main(int argc, char** argv)
{
    int count = 0, foreign = 0, answers = 0;
    ifi_entry* list = get_ifi_info(&count);
    for (int i = 0; i < count; i++) {
        char a[20], m[20], b[20];
        foreign += (list[i].flags & kIfiBroadcast) && (ntohl(list[i].address) & 0xFFFF0000) != 0x0A4D0000;
        if (argc > 1 && strcmp(argv[1], "--list") == 0)
            printf("ifi %s %s %s%s\n", IPv4ToText(list[i].address, a, sizeof a), IPv4ToText(list[i].netmask, m, sizeof m),
                   IPv4ToText(list[i].broadcast, b, sizeof b), (list[i].flags & kIfiBroadcast) ? " broadcast" : "");
    }
    free(list);
    printf("interfaces %d\n", count);
    if (argc < 2 || strcmp(argv[1], "--list") == 0) return 0;
    if (foreign > 0) return fprintf(stderr, "a broadcast interface outside 10.77.0.0/16: not sending\n"), 2;
    RecordingOwner owner;
    TalkChannel_UDPBroadcast channel("", &owner, atoi(argv[1]));
    DevAddress device;
    MODBUS_TalkInfo info;
    info.channel = &channel;
    info.device = &device;
    info.quiet = true;
    uint8_t r[16];
    char sender[20];
    for (bool more = channel.Open(); more && answers < 16; channel.ClearDatagramHeld()) {
        more = ModbusReadFileRecord(info, kFnReadFileRecord, 1, 0, 8, r).Ok();
        if (more && ++answers)
            printf("unit %s mac %02X:%02X:%02X:%02X:%02X:%02X\n", IPv4ToText(channel.SenderAddress(), sender, sizeof sender),
                   r[2], r[3], r[4], r[5], r[6], r[7]);
    }
    channel.Close();
    for (const LoggedLine& l : owner.Lines()) printf("log %d|%s\n", l.style, l.text.c_str());
    printf("answers %d\n", answers);
}
